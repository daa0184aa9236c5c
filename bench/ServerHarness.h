// A private PostgreSQL cluster (and hot standbys of it) and a running stendograph-server on
// loopback, for the server's benchmark and its tests: each cluster in a folder of its own,
// listening on a socket there only; both run as the user nobody when started as root, as
// PostgreSQL and the server refuse root. Failures throw std::runtime_error.
#pragma once

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>

// The prefix that runs a command as the server user: empty unless running as root.
inline QStringList ServerUserPrefix() {
    if (geteuid() != 0)
        return {};
    return {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
}

// Runs a command as the server user; its exit status, or -1 when it did not finish in time.
inline int RunAsServerUser(const QStringList& command, QString* output = nullptr,
                           int timeoutMs = 600000) {
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

// A temporary folder that the server user owns.
class ServerUserFolder {
public:
    ServerUserFolder() {
        if (!dir_.isValid())
            throw std::runtime_error("no temporary folder");
        if (geteuid() == 0)
            QProcess::execute("chown", {"nobody:nogroup", dir_.path()});
    }
    std::filesystem::path Path() const { return dir_.path().toStdString(); }
    QString Text() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

class PostgresCluster {
public:
    // A new cluster in a temporary folder. bindir: where initdb, pg_ctl, createdb and
    // pg_basebackup are; settings: more server options, such as "-c fsync=off".
    explicit PostgresCluster(QString bindir, const QString& settings = {})
        : bindir_(std::move(bindir)), settings_(settings), temporary_(std::in_place),
          folder_(temporary_->Text()) {
        InitDb();
        Start();
    }
    // The cluster of a folder that outlives this object: made there when there is none yet,
    // stopped (not removed) when the object goes, so that data made once serves many runs.
    PostgresCluster(QString bindir, const QString& settings, const std::filesystem::path& kept)
        : bindir_(std::move(bindir)), settings_(settings),
          folder_(QString::fromStdString(kept.string())) {
        std::filesystem::create_directories(kept);
        if (geteuid() == 0)
            QProcess::execute("chown", {"nobody:nogroup", folder_});
        if (!std::filesystem::exists(kept / "data" / "PG_VERSION"))
            InitDb();
        Start();
    }
    ~PostgresCluster() {
        RunAsServerUser(
            {bindir_ + "/pg_ctl", "-D", folder_ + "/data", "-m", "immediate", "-w", "stop"});
    }
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // A hot standby of this cluster in a temporary folder of its own, streaming from it: a base
    // backup (pg_basebackup -R, which also writes the connection to this cluster), started.
    std::unique_ptr<PostgresCluster> Standby() const {
        std::unique_ptr<PostgresCluster> standby(new PostgresCluster(bindir_, settings_, Empty{}));
        QString output;
        if (RunAsServerUser({bindir_ + "/pg_basebackup", "-h", folder_, "-U", "stendograph", "-D",
                             standby->folder_ + "/data", "-R", "-X", "stream", "-c", "fast"},
                            &output) != 0)
            throw std::runtime_error("pg_basebackup failed: " + output.toStdString());
        standby->Start();
        return standby;
    }

    // A new, empty database, as a libpq connection string.
    std::string NewDatabase() {
        const QString name = QString("results%1").arg(++databases_);
        CreateDatabase(name.toStdString());
        return Database(name.toStdString());
    }
    // Creates the database name (of template, copied file by file, when one is named).
    void CreateDatabase(const std::string& name, const std::string& copyOf = {}) {
        QStringList command = {bindir_ + "/createdb", "-h", folder_, "-U", "stendograph"};
        if (!copyOf.empty())
            command << "-T" << QString::fromStdString(copyOf) << "-S"
                    << "file_copy";
        QString output;
        if (RunAsServerUser(command << QString::fromStdString(name), &output) != 0)
            throw std::runtime_error("createdb failed: " + output.toStdString());
    }
    // The libpq connection string of the database name of this cluster.
    std::string Database(const std::string& name) const {
        return "host=" + folder_.toStdString() + " user=stendograph dbname=" + name;
    }
    const QString& Bindir() const { return bindir_; }
    const QString& Folder() const { return folder_; }

    // Stops the cluster at once, as a crash would, dropping every connection; Start brings it
    // back.
    void Stop() { PgCtl({"-m", "immediate", "-w", "stop"}, "stop"); }
    void Start() {
        PgCtl({"-l", folder_ + "/postgres.log", "-w", "-o",
               "-k " + folder_ + " -c listen_addresses='' " + settings_, "start"},
              "start");
    }
    // A standby leaves recovery and takes writes of its own.
    void Promote() { PgCtl({"-w", "promote"}, "promote"); }

private:
    struct Empty {};
    // A temporary folder without a cluster yet.
    PostgresCluster(QString bindir, const QString& settings, Empty)
        : bindir_(std::move(bindir)), settings_(settings), temporary_(std::in_place),
          folder_(temporary_->Text()) {}
    void InitDb() {
        QString output;
        if (RunAsServerUser({bindir_ + "/initdb", "-D", folder_ + "/data", "-A", "trust", "-U",
                             "stendograph", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
                            &output) != 0)
            throw std::runtime_error("initdb failed: " + output.toStdString());
    }
    void PgCtl(const QStringList& arguments, const char* what) {
        QString output;
        if (RunAsServerUser(QStringList{bindir_ + "/pg_ctl", "-D", folder_ + "/data"} + arguments,
                            &output) != 0)
            throw std::runtime_error(std::string("pg_ctl ") + what +
                                     " failed: " + output.toStdString());
    }

    QString bindir_;
    QString settings_;
    std::optional<ServerUserFolder> temporary_;
    QString folder_;
    int databases_ = 0;
};

// The resident memory of a process now and at its peak, in MB.
inline std::pair<double, double> ProcessMemory(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    double rss = 0, peak = 0;
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                rss = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
            if (line.startsWith("VmHWM:"))
                peak = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
    return {rss, peak};
}

// stendograph-server on 127.0.0.1 on a free port, stopped by SIGTERM when the object goes.
class ServerProcess {
public:
    ServerProcess(const std::string& program, const std::string& database,
                  QStringList extraArguments = {}) {
        // The server user may not reach the build folder; it runs a copy in its own folder.
        const std::filesystem::path copy = folder_.Path() / "stendograph-server";
        program_ = QString::fromStdString(copy.string());
        database_ = QString::fromStdString(database);
        std::filesystem::copy_file(program, copy);
        if (geteuid() == 0)
            QProcess::execute("chown", {"nobody:nogroup", QString::fromStdString(copy.string())});
        QStringList command = ServerUserPrefix();
        command << "env"
                << "HOME=" + folder_.Text() << QString::fromStdString(copy.string()) << "--listen"
                << "127.0.0.1:0"
                << "--database" << QString::fromStdString(database);
        command += extraArguments;
        process_.start(command.takeFirst(), command);
        if (!process_.waitForStarted())
            throw std::runtime_error("the server did not start");
        QString out;
        const QRegularExpression listening("Listening on http://127\\.0\\.0\\.1:(\\d+)/");
        while (process_.waitForReadyRead(60000)) {
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
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    std::string Url() const { return "http://" + host_ + ":" + std::to_string(port_); }
    // The server's own process id (setpriv and env replace themselves with it).
    qint64 ProcessId() const { return process_.processId(); }
    // Stops it; its exit status, or -1 when it did not stop by itself.
    int Stop() {
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
    // What the server wrote to its standard error so far: its log.
    QString ErrorOutput() {
        log_ += QString::fromUtf8(process_.readAllStandardError());
        return log_;
    }
    // Waits until the log holds the text past its first from characters; false when it did not
    // within the time.
    bool WaitForLog(const QString& text, std::chrono::milliseconds time, qsizetype from = 0) {
        const auto end = std::chrono::steady_clock::now() + time;
        while (ErrorOutput().indexOf(text, from) < 0) {
            if (std::chrono::steady_clock::now() >= end || process_.state() != QProcess::Running)
                return false;
            process_.waitForReadyRead(100);
        }
        return true;
    }
    // Runs the server program with the arguments on the same database, as the server user;
    // its exit status, its output in *output.
    int Command(const QStringList& arguments, QString* output) const {
        return RunAsServerUser(
            QStringList{"env", "HOME=" + folder_.Text(), program_, "--database", database_} +
                arguments,
            output, 60000);
    }

private:
    ServerUserFolder folder_;
    QString program_;
    QString database_;
    QProcess process_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
    QString log_;
};
