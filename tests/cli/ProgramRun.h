// Runs the program itself, as a user or a script does, and collects what it says.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

struct ProgramRun {
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

inline ProgramRun
RunProgram(const QString& program, const QStringList& arguments, const QString& folder,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
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
