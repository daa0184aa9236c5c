// The installed packages as their users meet them: the program started the way its menu entry
// starts it, by a user with an empty home folder, and the server started by the line of its
// systemd unit, as the unit's user, with the unit's settings file. Run by InstalledPackages.sh,
// as root, once the packages are installed on this machine; never by ctest.
#include "ServerHarness.h"
#include "cli/ProgramRun.h"
#include "state/StoreFixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTextStream>
#include <QThread>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString Program = QStringLiteral(STENDO_PROGRAM);
const QString Server = QStringLiteral("/usr/bin/stendograph-server");
const QString Unit = QStringLiteral("/lib/systemd/system/stendograph-server.service");
const char* const InstalledRuntime = "/usr/lib/stendograph/libd3d8.so";

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value of key in a file of KEY=VALUE lines ("[Section]" headers, "#" comments); every
// value of a key given more than once, in order.
QStringList Values(const QByteArray& text, const QString& key) {
    QStringList values;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(key + QLatin1Char('=')))
            values << trimmed.mid(key.size() + 1).trimmed();
    }
    return values;
}

// An environment file as systemd reads it: KEY=VALUE lines, "#" and ";" comments, a value in
// quotes taken without them.
std::map<QString, QString> EnvironmentFile(const QByteArray& text) {
    std::map<QString, QString> variables;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')) ||
            trimmed.startsWith(QLatin1Char(';')) || equals <= 0)
            continue;
        QString value = trimmed.mid(equals + 1).trimmed();
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        variables[trimmed.left(equals).trimmed()] = value;
    }
    return variables;
}

// The words of an ExecStart line with its variables replaced as systemd replaces them: a word
// that is "${NAME}" becomes the value as one word, "$NAME" the value split at white space. The
// test fails on any other use of "$", which it would not replace as systemd does.
QStringList ExpandedCommand(const QString& line, const std::map<QString, QString>& variables) {
    static const QRegularExpression whole(QStringLiteral("^\\$\\{(\\w+)\\}$|^\\$(\\w+)$"));
    QStringList words;
    for (const QString& word : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!word.contains(QLatin1Char('$'))) {
            words << word;
            continue;
        }
        const auto match = whole.match(word);
        EXPECT_TRUE(match.hasMatch()) << "ExecStart word not understood: " << word.toStdString();
        const QString name = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
        const auto value = variables.find(name);
        EXPECT_NE(value, variables.end()) << "no value for " << name.toStdString();
        if (value == variables.end())
            continue;
        if (match.captured(1).isEmpty())
            words += value->second.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        else
            words << value->second;
    }
    return words;
}

// The options --help lists: every "--name" it mentions.
QStringList LongOptions(const QByteArray& help) {
    static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*"));
    QStringList options;
    for (auto it = option.globalMatch(QString::fromUtf8(help)); it.hasNext();)
        options << it.next().captured();
    options.removeDuplicates();
    return options;
}

// A free port on the loopback address, for a server that cannot tell which one it took.
int FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

TEST(InstalledProgram, NamesItsInstalledRuntime) {
    TempDir folder;
    const ProgramRun version = RunProgram(Program, {"--version"}, Q(folder.path()));
    EXPECT_EQ(version.ExitCode, 0) << version.Err.toStdString();
    EXPECT_EQ(version.Out.toStdString(), std::string("stendograph (Стендограф) 1.5\n"
                                                     "Direct3D 8 runtime: ") +
                                             InstalledRuntime + "\n");
}

// Each manual page lists every option of its program's --help, rendered as man shows it.
TEST(InstalledProgram, ManualPagesListEveryOption) {
    TempDir folder;
    for (const QString& program : {Program, Server}) {
        const ProgramRun help = RunProgram(program, {"--help"}, Q(folder.path()));
        ASSERT_EQ(help.ExitCode, 0) << help.Err.toStdString();
        const QStringList options = LongOptions(help.Out);
        EXPECT_GE(options.size(), 4) << help.Out.toStdString();

        const QString name = program.section(QLatin1Char('/'), -1);
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("MANWIDTH", "100");
        environment.insert("LANG", "C.UTF-8");
        const ProgramRun page =
            RunProgram("man", {"-l", "-P", "cat", "/usr/share/man/man1/" + name + ".1.gz"},
                       Q(folder.path()), environment);
        ASSERT_EQ(page.ExitCode, 0) << page.Err.toStdString();
        EXPECT_TRUE(page.Err.isEmpty()) << page.Err.toStdString();
        for (const QString& option : options)
            EXPECT_TRUE(page.Out.contains(option.toUtf8()))
                << name.toStdString() << ".1 lacks " << option.toStdString();
    }
}

// The menu entry's command, by a user whose home folder is empty, in a clean environment: one
// measured pass, its results in the user's data folder with the help beside them, nothing
// taken from or left in any other folder.
TEST(InstalledProgram, RunsFromTheMenuEntryInAnEmptyHome) {
    const QByteArray entry = ReadFile("/usr/share/applications/stendograph.desktop");
    const QStringList exec = Values(entry, "Exec");
    ASSERT_EQ(exec.size(), 1) << entry.toStdString();
    QStringList command = exec.first().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    command << "--run"
            << "--modes"
            << "640x480x32"
            << "--accel"
            << "emulation";

    ASSERT_NE(qgetenv("DISPLAY"), QByteArray()) << "runs under an X server";
    // Both owned by the unprivileged user when run as root; the runtime folder, which a
    // desktop session gives its programs, holds the single-copy socket.
    ServerUserFolder home;
    ServerUserFolder runtime;
    QProcessEnvironment environment;
    environment.insert("HOME", home.Text());
    environment.insert("XDG_RUNTIME_DIR", runtime.Text());
    environment.insert("PATH", "/usr/local/bin:/usr/bin:/bin");
    environment.insert("DISPLAY", qEnvironmentVariable("DISPLAY"));
    environment.insert("LANG", "C.UTF-8");
    command = ServerUserPrefix() + command;
    const QString first = command.takeFirst();
    const ProgramRun run = RunProgram(first, command, home.Text(), environment);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();

    const QList<QByteArray> lines = run.Out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1) << run.Out.toStdString();
    const QJsonObject pass = QJsonDocument::fromJson(lines.first()).object();
    EXPECT_EQ(pass["width"].toInt(), 640);
    EXPECT_EQ(pass["depth"].toInt(), 32);
    EXPECT_EQ(pass["acceleration"].toString(), "emulation");
    EXPECT_GT(pass["fps"].toDouble(), 0);

    const auto data = home.Path() / ".local/share/Стендограф";
    EXPECT_GT(std::filesystem::file_size(data / "Results.bin"), 0u);
    EXPECT_EQ(ReadFile(Q(data / "Help.html")), ReadFile("/usr/share/stendograph/Help.html"));
    // The home folder gained the data folder only (and the caches of the libraries).
    for (const auto& item : std::filesystem::directory_iterator(home.Path())) {
        const std::string name = item.path().filename().string();
        EXPECT_TRUE(name == ".local" || name == ".cache") << "left in the home folder: " << name;
    }
}

namespace {

// What the server's unit file says of how the service runs.
struct TServiceUnit {
    QString User;
    QString Group;
    QStringList Environment; // its Environment= lines, NAME=VALUE each
    QString SettingsFile;    // EnvironmentFile=, read after them
    QString RuntimeDirectory;
    QString Command;
};

TServiceUnit ReadUnit() {
    const QByteArray text = ReadFile(Unit);
    TServiceUnit unit;
    const auto only = [&text](const char* key) {
        const QStringList values = Values(text, key);
        EXPECT_EQ(values.size(), 1) << key;
        return values.value(0);
    };
    unit.User = only("User");
    unit.Group = only("Group");
    unit.Environment = Values(text, "Environment");
    for (const QString& assignment : unit.Environment)
        EXPECT_TRUE(!assignment.contains(' ') && !assignment.contains('%'))
            << "one NAME=VALUE without specifiers on each line: " << assignment.toStdString();
    unit.SettingsFile = only("EnvironmentFile");
    unit.RuntimeDirectory = only("RuntimeDirectory");
    EXPECT_EQ(Values(text, "RuntimeDirectoryMode"), QStringList{"0700"});
    unit.Command = only("ExecStart");
    return unit;
}

// The service's runtime folder under /run, owned by its user, while the object lives.
class RuntimeFolder {
public:
    RuntimeFolder(const QString& name, const passwd& user) : path_("/run/" + name.toStdString()) {
        std::filesystem::create_directory(path_);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
        if (chown(path_.c_str(), user.pw_uid, user.pw_gid) != 0)
            ADD_FAILURE() << "chown " << path_;
    }
    ~RuntimeFolder() { std::filesystem::remove_all(path_); }
    RuntimeFolder(const RuntimeFolder&) = delete;
    RuntimeFolder& operator=(const RuntimeFolder&) = delete;

private:
    std::filesystem::path path_;
};

// The environment systemd gives a service of a user: the user's own variables, its default
// path, the unit's Environment= lines and the settings file's variables.
QStringList ServiceEnvironment(const passwd& user, const TServiceUnit& unit,
                               const std::map<QString, QString>& settings) {
    QStringList environment{
        "HOME=" + QString::fromLocal8Bit(user.pw_dir),
        "USER=" + QString::fromLocal8Bit(user.pw_name),
        "LOGNAME=" + QString::fromLocal8Bit(user.pw_name),
        "SHELL=" + QString::fromLocal8Bit(user.pw_shell),
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
        "LANG=C.UTF-8",
    };
    environment += unit.Environment;
    for (const auto& [name, value] : settings)
        environment << name + "=" + value;
    return environment;
}

httplib::Result Get(const std::string& host, int port, const std::string& path) {
    httplib::Client client(host, port);
    client.set_read_timeout(30, 0);
    return client.Get(path);
}

// The ranking and the upload, as a client of the service meets them.
void CheckServing(int port) {
    const auto empty = Get("127.0.0.1", port, "/api/ranking");
    ASSERT_TRUE(empty) << "no answer";
    ASSERT_EQ(empty->status, 200) << empty->body;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(empty->body))["total"].toInt(), 0);

    StoreImage store;
    store.Add(MakeComputer("package"), {"  video"}, {MakeResult(46000.5, 1024, 768, 32, 60)});
    const auto file = store.Encode();
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    const auto upload = client.Post("/api/results", std::string(file.begin(), file.end()),
                                    "application/octet-stream");
    ASSERT_TRUE(upload);
    ASSERT_EQ(upload->status, 200) << upload->body;

    const auto ranking = Get("127.0.0.1", port, "/api/ranking?accel=any");
    ASSERT_TRUE(ranking);
    ASSERT_EQ(ranking->status, 200) << ranking->body;
    const QJsonObject answer =
        QJsonDocument::fromJson(QByteArray::fromStdString(ranking->body)).object();
    EXPECT_EQ(answer["total"].toInt(), 1) << ranking->body;
    EXPECT_EQ(answer["entries"].toArray()[0].toObject()["video_adapter"].toString(),
              "Adapter package");
}

// A database of the test's own cluster that a user other than the cluster's reaches: over
// the loopback address, as a URI like the one the settings file takes.
std::string ReachableDatabase(PostgresCluster& cluster, int port) {
    const std::string local = cluster.NewDatabase();
    const std::string name = local.substr(local.rfind("dbname=") + 7);
    return "postgresql://stendograph@127.0.0.1:" + std::to_string(port) + "/" + name;
}

bool SystemdRuns() {
    return std::filesystem::is_directory("/run/systemd/system");
}

} // namespace

// The unit's settings file names what the command reads, with the documented defaults.
TEST(ServerUnit, SettingsFileGivesEveryVariableOfTheCommand) {
    const TServiceUnit unit = ReadUnit();
    EXPECT_FALSE(unit.SettingsFile.startsWith('-')) << "a missing settings file is an error";
    const auto settings = EnvironmentFile(ReadFile(unit.SettingsFile));
    EXPECT_EQ(settings.at("STENDOGRAPH_LISTEN"), "127.0.0.1:8080");
    EXPECT_EQ(settings.at("STENDOGRAPH_DATABASE"), "postgresql:///stendograph");
    const QStringList command = ExpandedCommand(unit.Command, settings);
    EXPECT_EQ(
        command.join('|').toStdString(),
        (Server + "|--listen|127.0.0.1:8080|--database|postgresql:///stendograph").toStdString());
    // Only root, which systemd reads it as, may read a file that may hold a password.
    EXPECT_EQ(QFile::permissions(unit.SettingsFile),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                  QFileDevice::WriteUser);
}

// The service answers the ranking. Where systemd runs, the unit itself starts it; elsewhere (a
// container) the unit's own command runs as the unit's user with the unit's environment. Both
// against a PostgreSQL cluster of the test's own, reached over the loopback address.
TEST(ServerUnit, ServesTheRankingAsItsUser) {
    ASSERT_EQ(geteuid(), 0u) << "starts the service as its user: run as root";
    const TServiceUnit unit = ReadUnit();
    const passwd* user = getpwnam(unit.User.toLocal8Bit().constData());
    ASSERT_NE(user, nullptr) << "the package made no user " << unit.User.toStdString();
    EXPECT_STREQ(user->pw_shell, "/usr/sbin/nologin");
    EXPECT_LT(user->pw_uid, 1000u) << "a system user";

    // PGPORT sets the cluster's port for initdb, pg_ctl and createdb alike.
    const int databasePort = FreePort();
    qputenv("PGPORT", QByteArray::number(databasePort));
    PostgresCluster cluster(STENDO_PG_BINDIR, "-c listen_addresses=127.0.0.1");
    auto settings = EnvironmentFile(ReadFile(unit.SettingsFile));
    settings["STENDOGRAPH_DATABASE"] =
        QString::fromStdString(ReachableDatabase(cluster, databasePort));

    if (SystemdRuns()) {
        // A runtime drop-in adds a settings file of the test's, read after the unit's own.
        const int port = FreePort();
        settings["STENDOGRAPH_LISTEN"] = QString("127.0.0.1:%1").arg(port);
        const std::filesystem::path dropIn = "/run/systemd/system/stendograph-server.service.d";
        std::filesystem::create_directories(dropIn);
        {
            QFile file(Q(dropIn / "test.env"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            QTextStream out(&file);
            for (const auto& [name, value] : settings)
                out << name << "=" << value << "\n";
        }
        {
            QFile file(Q(dropIn / "test.conf"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[Service]\nEnvironmentFile=" + Q(dropIn / "test.env").toUtf8() + "\n");
        }
        const auto systemctl = [](const QStringList& arguments) {
            return RunProgram("systemctl", arguments, "/").ExitCode;
        };
        ASSERT_EQ(systemctl({"daemon-reload"}), 0);
        ASSERT_EQ(systemctl({"restart", "stendograph-server"}), 0);
        bool answered = false;
        for (int i = 0; i < 100 && !answered; ++i) {
            answered = static_cast<bool>(Get("127.0.0.1", port, "/api/ranking"));
            if (!answered)
                QThread::msleep(200);
        }
        EXPECT_TRUE(answered) << "the service does not answer";
        if (answered)
            CheckServing(port);
        EXPECT_EQ(systemctl({"stop", "stendograph-server"}), 0);
        std::filesystem::remove_all(dropIn);
        EXPECT_EQ(systemctl({"daemon-reload"}), 0);
        return;
    }

    // The unit's command, as its user and group, in a clean environment: the port is any free
    // one, which the server prints.
    settings["STENDOGRAPH_LISTEN"] = "127.0.0.1:0";
    QStringList command = {"setpriv",
                           "--reuid=" + unit.User,
                           "--regid=" + unit.Group,
                           "--clear-groups",
                           "--pdeathsig=SIGKILL",
                           "--",
                           "env",
                           "-i"};
    command += ServiceEnvironment(*user, unit, settings);
    command += ExpandedCommand(unit.Command, settings);
    RuntimeFolder runtime(unit.RuntimeDirectory, *user);
    QProcess server;
    server.setWorkingDirectory("/");
    server.start(command.takeFirst(), command);
    ASSERT_TRUE(server.waitForStarted());
    QByteArray out;
    int port = 0;
    static const QRegularExpression listening("Listening on http://127\\.0\\.0\\.1:(\\d+)/");
    while (port == 0 && server.waitForReadyRead(60000)) {
        out += server.readAllStandardOutput();
        if (const auto match = listening.match(QString::fromUtf8(out)); match.hasMatch())
            port = match.captured(1).toInt();
    }
    ASSERT_NE(port, 0) << "the server did not say where it listens: " << out.toStdString()
                       << server.readAllStandardError().toStdString();
    CheckServing(port);
    server.terminate();
    ASSERT_TRUE(server.waitForFinished(30000));
    EXPECT_EQ(server.exitCode(), 0);
    // Its journal stays free of warnings: the service's settings give it what it looks for.
    EXPECT_EQ(server.readAllStandardError().toStdString(), "");
}
