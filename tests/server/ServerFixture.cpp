#include "ServerFixture.h"

#include "platform/Cp1251.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace {

const char* const ServerUser = "nobody";
const char* const ServerGroup = "nogroup";

// Hands a folder to the server user, so that a cluster and a server run as that user can write
// there.
void GiveFolder(const std::filesystem::path& folder) {
    if (geteuid() != 0)
        return;
    QProcess::execute("chown", {"-R", QString("%1:%2").arg(ServerUser, ServerGroup),
                                QString::fromStdString(folder.string())});
}

QString PostgresProgram(const char* name) {
    return QString::fromUtf8(STENDO_PG_BINDIR) + "/" + name;
}

void Require(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error(what);
}

} // namespace

QStringList ServerUserPrefix() {
    if (geteuid() != 0)
        return {};
    return {"setpriv", QString("--reuid=%1").arg(ServerUser),
            QString("--regid=%1").arg(ServerGroup), "--clear-groups", "--"};
}

int RunAsServerUser(const QStringList& command, QString* output, int timeoutMs) {
    QStringList full = ServerUserPrefix() + command;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(full.takeFirst(), full);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output != nullptr)
        *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

std::string ServerProgram() {
    return STENDO_SERVER_PROGRAM;
}

PostgresCluster::PostgresCluster() {
    GiveFolder(dir_.path());
    const QString folder = QString::fromStdString(dir_.path().string());
    QString output;
    Require(RunAsServerUser({PostgresProgram("initdb"), "-D", folder + "/data", "-A", "trust", "-U",
                             "stendograph", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
                            &output) == 0,
            "initdb failed: " + output.toStdString());
    // A socket in the folder and no TCP port, so that clusters of parallel tests never meet.
    Require(RunAsServerUser({PostgresProgram("pg_ctl"), "-D", folder + "/data", "-l",
                             folder + "/postgres.log", "-w", "-o",
                             "-k " + folder +
                                 " -c listen_addresses='' -c fsync=off "
                                 "-c max_connections=200",
                             "start"},
                            &output) == 0,
            "pg_ctl start failed: " + output.toStdString());
}

PostgresCluster::~PostgresCluster() {
    RunAsServerUser({PostgresProgram("pg_ctl"), "-D",
                     QString::fromStdString((dir_.path() / "data").string()), "-m", "immediate",
                     "-w", "stop"});
}

std::string PostgresCluster::NewDatabase() {
    const std::string name = "results" + std::to_string(++databases_);
    QString output;
    Require(RunAsServerUser({PostgresProgram("createdb"), "-h",
                             QString::fromStdString(dir_.path().string()), "-U", "stendograph",
                             QString::fromStdString(name)},
                            &output) == 0,
            "createdb failed: " + output.toStdString());
    return "host=" + dir_.path().string() + " user=stendograph dbname=" + name;
}

PostgresCluster& SharedCluster() {
    static PostgresCluster cluster;
    return cluster;
}

ServerProcess::ServerProcess(const std::string& database, QStringList extraArguments) {
    // The server user may not reach the build folder; it runs a copy in its own folder.
    const std::filesystem::path program = dir_ / "stendograph-server";
    std::filesystem::copy_file(ServerProgram(), program);
    GiveFolder(dir_.path());
    QStringList command = ServerUserPrefix();
    command << "env"
            << "HOME=" + QString::fromStdString(dir_.path().string())
            << QString::fromStdString(program.string()) << "--listen"
            << "127.0.0.1:0"
            << "--database" << QString::fromStdString(database);
    command += extraArguments;
    process_.start(command.takeFirst(), command);
    Require(process_.waitForStarted(), "the server did not start");
    QString out;
    const QRegularExpression listening("Listening on http://127\\.0\\.0\\.1:(\\d+)/");
    while (process_.waitForReadyRead(30000)) {
        out += QString::fromUtf8(process_.readAllStandardOutput());
        const auto match = listening.match(out);
        if (match.hasMatch()) {
            port_ = match.captured(1).toInt();
            return;
        }
    }
    throw std::runtime_error("the server did not say where it listens: " +
                             ErrorOutput().toStdString());
}

ServerProcess::~ServerProcess() {
    Stop();
}

int ServerProcess::Stop() {
    if (process_.state() == QProcess::NotRunning)
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    process_.terminate();
    if (!process_.waitForFinished(30000)) {
        process_.kill();
        process_.waitForFinished();
        return -1;
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString ServerProcess::ErrorOutput() {
    return QString::fromUtf8(process_.readAllStandardError());
}

TStringSlot Scrambled(const std::string& text) {
    return ScrambleText(MakeStringSlot(Utf8ToCp1251(text)));
}

TComputerRecord TestComputer(const std::string& processor, const std::string& adapter,
                             int capability) {
    TComputerRecord computer{};
    computer.Processor = Scrambled(processor);
    computer.VideoAdapter = Scrambled(adapter);
    computer.Chipset = Scrambled("Host bridge");
    computer.MemoryMB = Scrambled("8192");
    computer.OSName = Scrambled("Debian GNU/Linux 12");
    computer.Owner = Scrambled("Иван Петров");
    computer.TimeZone = Scrambled("Europe/Moscow (Bias=3)");
    computer.RecordTag = Scrambled("1");
    if (capability < 2) {
        computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
        computer.HalCaps.DevCaps = capability == 0 ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0;
    }
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

TResultRecord TestResult(double timestamp, int width, int height, int depth, int kind,
                         float trianglesPerMs) {
    TResultRecord result{};
    result.Timestamp = timestamp;
    result.TestSet = TestSet;
    result.Width = static_cast<std::uint16_t>(width);
    result.Height = static_cast<std::uint16_t>(height);
    result.Depth = static_cast<std::uint16_t>(depth);
    result.HardwareDevice = ChartKinds[kind].HardwareDevice;
    result.HardwareVertexProcessing = ChartKinds[kind].HardwareVertexProcessing;
    result.VertexBufferMode = 2;
    result.TextureMode = 2;
    result.DetailLevel = 4;
    result.TrianglesPerMs = trianglesPerMs;
    result.Fps = trianglesPerMs * 5 / 2048;
    result.MinFps = result.Fps / 2;
    result.MaxFps = result.Fps * 2;
    result.FrameCount = 700;
    result.TotalTimeMs = 7000;
    result.RunCount = 1;
    return result;
}

std::vector<std::uint8_t> TTestStore::File() const {
    return *EncodeResultsFile(Computers, Devices, Results, 17);
}

TMergeReport TTestStore::Merge(const std::vector<std::uint8_t>& file) {
    TMergeReport report;
    MergeResultsFile(file, Computers, Devices, Results, &report);
    return report;
}

TTestStore VariedStore(int count, unsigned seed, const std::string& tag) {
    std::mt19937 random(seed);
    const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(), 0.0f, -2.0f};
    const char* const names[] = {"Pentium", "Эльбрус", "Athlon", "Celeron"};
    TTestStore store;
    for (int i = 0; i < count; ++i) {
        const int capability = static_cast<int>(random() % 3);
        TComputerRecord computer =
            TestComputer(std::string(names[random() % 4]) + " " + tag + std::to_string(i),
                         "Адаптер " + std::to_string(random() % 7), capability);
        std::vector<TResultRecord> results;
        const int resultCount = static_cast<int>(random() % 7);
        for (int r = 0; r < resultCount; ++r) {
            const int size = static_cast<int>(random() % ModeSizeCount);
            const int depth = static_cast<int>(random() % ModeDepthCount);
            const int kind = static_cast<int>(random() % ChartKindCount);
            // Few distinct values, so that ties are common; now and then a damaged one.
            const float value = random() % 9 == 0
                                    ? special[random() % 4]
                                    : static_cast<float>(random() % 12) * 2.5f + 0.25f;
            TResultRecord result =
                TestResult(45000 + r + i * 0.001, ModeSizes[size].Width, ModeSizes[size].Height,
                           ModeDepths[depth], kind, value);
            if (random() % 8 == 0)
                result.DetailLevel = 2; // a presentation run: never ranked
            results.push_back(result);
        }
        store.Add(computer, results, {Scrambled("  chip"), Scrambled("PCI " + std::to_string(i))});
    }
    return store;
}
