// Runs the program itself, as a user or a script does, and collects what it says.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

struct ProgramRun {
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

// childSetUp, when given, runs in the child before the program starts (limits, a user).
inline ProgramRun
RunProgram(const QString& program, const QStringList& arguments, const QString& folder,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
           const std::function<void()>& childSetUp = {}) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    if (childSetUp)
        process.setChildProcessModifier(childSetUp);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(120000)) {
        ADD_FAILURE() << program.toStdString()
                      << " did not end: " << process.errorString().toStdString();
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = process.readAllStandardOutput();
    run.Err = process.readAllStandardError();
    return run;
}

inline ProgramRun RunStendograph(const QStringList& arguments, const QString& folder) {
    return RunProgram(QStringLiteral(STENDO_PROGRAM), arguments, folder);
}

inline QString Q(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

// The child draws through the runtime: it needs the X display, not the offscreen platform
// this test program may run on. In the sanitizer build its leaks are checked as the tests'
// own: the program keeps the graphics driver loaded for the check, so that what the driver
// keeps is told apart from ours.
inline QProcessEnvironment DisplayEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    return environment;
}

// The single-copy socket lives in the user's runtime folder or, without one, in a folder of
// the user's in the temporary folder: a temporary folder of the test's own keeps the children
// apart from a program the user runs and from the other tests running meanwhile.
inline QProcessEnvironment Isolated(QProcessEnvironment environment,
                                    const std::filesystem::path& tmp) {
    std::filesystem::create_directories(tmp);
    environment.insert("TMPDIR", Q(tmp));
    environment.remove("XDG_RUNTIME_DIR");
    return environment;
}
