// The command line of the repository's tools and benchmarks, read by Qt's parser: each of them
// answers --help and refuses an option or an argument it does not take, before it opens a
// window, a file or the display.
#pragma once

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <optional>

// Reads argv into parser, which holds the program's own options and names its positional
// arguments (addPositionalArgument). Returns the exit status when the program is to end at
// once: 0 after --help (the usage on standard output), 2 after a mistake (what is wrong, then
// the usage, on standard error); nothing when it may go on. maxArguments -1: no limit.
inline std::optional<int> ReadToolArguments(QCommandLineParser& parser, const char* name,
                                            const char* description, int argc, char** argv,
                                            int minArguments, int maxArguments) {
    parser.setApplicationDescription(QString::fromUtf8(description));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    parser.addOption(help);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const bool read = parser.parse(arguments);

    // The parser's usage line names the program by its path, or by a placeholder before the
    // application object exists: here by its name.
    QString usage = parser.helpText();
    const qsizetype afterProgram = usage.indexOf(QLatin1Char(' '), 7);
    usage = QStringLiteral("Usage: ") + QString::fromUtf8(name) + usage.mid(afterProgram);
    if (read && parser.isSet(help)) {
        std::fputs(usage.toUtf8().constData(), stdout);
        return 0;
    }

    const QStringList positional = parser.positionalArguments();
    QString error;
    if (!read)
        error = parser.errorText();
    else if (positional.size() < minArguments)
        error = QStringLiteral("missing arguments");
    else if (maxArguments >= 0 && positional.size() > maxArguments)
        error = QStringLiteral("unexpected argument \"%1\"").arg(positional.at(maxArguments));
    if (error.isEmpty())
        return std::nullopt;
    std::fprintf(stderr, "%s: %s\n\n%s", name, error.toUtf8().constData(),
                 usage.toUtf8().constData());
    return 2;
}
