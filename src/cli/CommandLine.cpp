#include "cli/CommandLine.h"

#include "state/Variables.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

const QString Run = QStringLiteral("run");
const QString Modes = QStringLiteral("modes");
const QString AllModes = QStringLiteral("all-modes");
const QString Accel = QStringLiteral("accel");
const QString Presentation = QStringLiteral("presentation");
const QString Results = QStringLiteral("results");
const QString Export = QStringLiteral("export");
const QString Chart = QStringLiteral("chart");
const QString View = QStringLiteral("view");
const QString Rows = QStringLiteral("rows");
const QString Publish = QStringLiteral("publish");
const QString Fetch = QStringLiteral("fetch");
const QString WithOwner = QStringLiteral("with-owner");
const QString Top = QStringLiteral("top");
const QString Help = QStringLiteral("help");
const QString Version = QStringLiteral("version");

void DefineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Стендограф (Stendograph) 1.5, a benchmark of 3D graphics.\n"
                       "Without options it opens its windows."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addOptions({
        {{QStringLiteral("h"), Help}, QStringLiteral("Shows this help and ends.")},
        {Version, QStringLiteral("Shows the version and the Direct3D 8 runtime in use, and ends.")},
        {Run, QStringLiteral("Runs a test series without the main window.")},
        {Modes,
         QStringLiteral("The display modes of --run, e.g. 640x480x16,1024x768x32. Sizes: "
                        "640x480, 800x600, 1024x768, 1280x1024, 1600x1200; depths 16, 32."),
         QStringLiteral("list")},
        {AllModes, QStringLiteral("Every display mode the display accepts, in --run.")},
        {Accel,
         QStringLiteral("Acceleration: hw+sw, hw, sw or emulation for --run; any, hw, sw or "
                        "emulation for --chart and --fetch."),
         QStringLiteral("kind")},
        {Presentation, QStringLiteral("Runs the presentation (detail 1) instead of the test.")},
        {Results,
         QStringLiteral("The results file of --run, --export, --chart and --publish (default: "
                        "Results.bin in the working folder)."),
         QStringLiteral("file")},
        {Export,
         QStringLiteral("Writes every computer and result of the results file to standard "
                        "output as csv or json."),
         QStringLiteral("format")},
        {Chart, QStringLiteral("Draws the results chart into a PNG or BMP file."),
         QStringLiteral("file.png")},
        {View,
         QStringLiteral("The chart of --chart: all (the ranking), current (this computer) or N "
                        "(computer N of the list)."),
         QStringLiteral("which")},
        {Rows,
         QStringLiteral("The entries FIRST (from 1) to FIRST+COUNT-1 of the --chart ranking."),
         QStringLiteral("first:count")},
        {Publish,
         QStringLiteral("Uploads the results file to the results server at the address and "
                        "prints its answer."),
         QStringLiteral("url")},
        {WithOwner,
         QStringLiteral("Publishes the owner of each computer too; without it --publish sends "
                        "that field empty.")},
        {Fetch,
         QStringLiteral("Downloads the results of the server's best computers as Community.bin "
                        "into the working folder, offered for merging at the next start."),
         QStringLiteral("url")},
        {Top, QStringLiteral("The number of computers --fetch takes (default 100, at most 10000)."),
         QStringLiteral("n")},
    });
}

std::optional<TAcceleration> AccelerationNamed(const QString& name) {
    if (name == QLatin1String("hw+sw"))
        return TAcceleration::HwAndSw;
    if (name == QLatin1String("hw"))
        return TAcceleration::Hw;
    if (name == QLatin1String("sw"))
        return TAcceleration::Sw;
    if (name == QLatin1String("emulation"))
        return TAcceleration::Emulation;
    if (name == QLatin1String("any"))
        return TAcceleration::Any;
    return std::nullopt;
}

// A whole positive decimal number, or 0.
int PositiveNumber(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    return digits.match(text).hasMatch() ? text.toInt() : 0;
}

// Ticks the modes of a list like 640x480x16,1024x768x32; the error text, or empty.
QString ChooseModes(const QString& list, TCommandLineOptions& options) {
    static const QRegularExpression mode(
        QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})x([0-9]{1,3})$"));
    for (const QString& item : list.split(QLatin1Char(','))) {
        const auto match = mode.match(item.trimmed().toLower());
        int size = -1, depth = -1;
        if (match.hasMatch()) {
            for (int s = 0; s < ModeSizeCount; ++s)
                if (ModeSizes[s].Width == match.captured(1).toInt() &&
                    ModeSizes[s].Height == match.captured(2).toInt())
                    size = s;
            for (int d = 0; d < ModeDepthCount; ++d)
                if (ModeDepths[d] == match.captured(3).toInt())
                    depth = d;
        }
        if (size < 0 || depth < 0)
            return QStringLiteral("--modes: \"%1\" is not one of the display modes "
                                  "(WIDTHxHEIGHTxDEPTH, e.g. 1024x768x32; see --help)")
                .arg(item);
        if (options.ModeChosen[size][depth])
            return QStringLiteral("--modes: %1 is given twice").arg(item.trimmed());
        options.ModeChosen[size][depth] = true;
    }
    return {};
}

// Which options belong to which mode, for the message when one is given without it.
struct OptionOwner {
    const QString& Option;
    TCommandMode Mode;
    const char* ModeName;
};

} // namespace

TParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    DefineOptions(parser);
    const auto fail = [](const QString& error) { return TParsedCommandLine{std::nullopt, error}; };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    for (const QString& name : parser.optionNames())
        if (parser.optionNames().count(name) > 1)
            return fail(QStringLiteral("--%1 is given more than once").arg(name));

    TCommandLineOptions options;
    // --help and --version stand alone: with anything else the line asks for two things.
    for (const auto& [name, mode] :
         {std::pair{Help, TCommandMode::Help}, std::pair{Version, TCommandMode::Version}}) {
        if (!parser.isSet(name))
            continue;
        if (parser.optionNames().size() > 1)
            return fail(QStringLiteral("--%1 takes no other option").arg(name));
        options.Mode = mode;
        return {options, {}};
    }

    const int modes = int{parser.isSet(Run)} + int{parser.isSet(Export)} +
                      int{parser.isSet(Chart)} + int{parser.isSet(Publish)} +
                      int{parser.isSet(Fetch)};
    if (modes > 1)
        return fail(
            QStringLiteral("--run, --export, --chart, --publish and --fetch exclude each other"));
    if (parser.isSet(Run))
        options.Mode = TCommandMode::Run;
    else if (parser.isSet(Export))
        options.Mode = TCommandMode::Export;
    else if (parser.isSet(Chart))
        options.Mode = TCommandMode::Chart;
    else if (parser.isSet(Publish))
        options.Mode = TCommandMode::Publish;
    else if (parser.isSet(Fetch))
        options.Mode = TCommandMode::Fetch;

    const OptionOwner owners[] = {
        {Modes, TCommandMode::Run, "--run"},
        {AllModes, TCommandMode::Run, "--run"},
        {Presentation, TCommandMode::Run, "--run"},
        {View, TCommandMode::Chart, "--chart"},
        {Rows, TCommandMode::Chart, "--chart"},
        {Top, TCommandMode::Fetch, "--fetch"},
        {WithOwner, TCommandMode::Publish, "--publish"},
    };
    for (const auto& owner : owners)
        if (parser.isSet(owner.Option) && options.Mode != owner.Mode)
            return fail(QStringLiteral("--%1 belongs to %2").arg(owner.Option, owner.ModeName));
    if (parser.isSet(Accel) && options.Mode != TCommandMode::Run &&
        options.Mode != TCommandMode::Chart && options.Mode != TCommandMode::Fetch)
        return fail(QStringLiteral("--accel belongs to --run, --chart or --fetch"));
    if (parser.isSet(Results) &&
        (options.Mode == TCommandMode::Windows || options.Mode == TCommandMode::Fetch))
        return fail(QStringLiteral("--results belongs to --run, --export, --chart or --publish"));

    if (parser.isSet(Results)) {
        options.ResultsFile = parser.value(Results);
        options.ResultsFileGiven = true;
        if (options.ResultsFile.isEmpty())
            return fail(QStringLiteral("--results: the file name is empty"));
    }

    if (parser.isSet(Accel)) {
        const QString name = parser.value(Accel);
        const auto kind = AccelerationNamed(name);
        const bool run = options.Mode == TCommandMode::Run;
        if (!kind || (run && *kind == TAcceleration::Any) ||
            (!run && *kind == TAcceleration::HwAndSw))
            return fail(QStringLiteral("--accel: \"%1\" is none of %2")
                            .arg(name, run ? QStringLiteral("hw+sw, hw, sw, emulation")
                                           : QStringLiteral("any, hw, sw, emulation")));
        options.Acceleration = kind;
    }

    switch (options.Mode) {
    case TCommandMode::Run:
        if (parser.isSet(Modes) && parser.isSet(AllModes))
            return fail(QStringLiteral("--modes and --all-modes exclude each other"));
        if (!parser.isSet(Modes) && !parser.isSet(AllModes))
            return fail(QStringLiteral("--run needs either --modes or --all-modes"));
        options.AllModes = parser.isSet(AllModes);
        if (parser.isSet(AllModes)) {
            for (auto& depths : options.ModeChosen)
                depths.fill(true);
        } else if (const QString error = ChooseModes(parser.value(Modes), options);
                   !error.isEmpty()) {
            return fail(error);
        }
        options.Presentation = parser.isSet(Presentation);
        break;
    case TCommandMode::Export: {
        const QString format = parser.value(Export);
        if (format == QLatin1String("csv"))
            options.ExportFormat = TExportFormat::Csv;
        else if (format == QLatin1String("json"))
            options.ExportFormat = TExportFormat::Json;
        else
            return fail(QStringLiteral("--export: \"%1\" is neither csv nor json").arg(format));
        break;
    }
    case TCommandMode::Chart: {
        options.ChartFile = parser.value(Chart);
        // BMP as the results window saves it: written band by band, for any height.
        if (!options.ChartFile.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) &&
            !options.ChartFile.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive))
            return fail(QStringLiteral("--chart: \"%1\" is neither a .png nor a .bmp file name")
                            .arg(options.ChartFile));
        if (parser.isSet(View)) {
            const QString view = parser.value(View);
            if (view == QLatin1String("all")) {
                options.ChartView = TChartView::All;
            } else if (view == QLatin1String("current")) {
                options.ChartView = TChartView::Current;
            } else if (const int n = PositiveNumber(view); n > 0) {
                options.ChartView = TChartView::Computer;
                options.ChartComputer = n;
            } else {
                return fail(QStringLiteral("--view: \"%1\" is none of all, current or a computer "
                                           "number from 1")
                                .arg(view));
            }
        }
        if (parser.isSet(Rows)) {
            const QStringList parts = parser.value(Rows).split(QLatin1Char(':'));
            const int first = parts.size() == 2 ? PositiveNumber(parts[0]) : 0;
            const int count = parts.size() == 2 ? PositiveNumber(parts[1]) : 0;
            if (first == 0 || count == 0)
                return fail(QStringLiteral("--rows: \"%1\" is not FIRST:COUNT with both from 1")
                                .arg(parser.value(Rows)));
            options.ChartRows = std::pair{first, count};
        }
        break;
    }
    case TCommandMode::Publish:
    case TCommandMode::Fetch:
        options.ServerUrl = parser.value(options.Mode == TCommandMode::Publish ? Publish : Fetch);
        options.PublishOwner = parser.isSet(WithOwner);
        if (!options.ServerUrl.startsWith(QLatin1String("http://")) &&
            !options.ServerUrl.startsWith(QLatin1String("https://")))
            return fail(QStringLiteral("--%1: \"%2\" is no http:// or https:// address")
                            .arg(options.Mode == TCommandMode::Publish ? Publish : Fetch,
                                 options.ServerUrl));
        if (parser.isSet(Top)) {
            options.FetchTop = PositiveNumber(parser.value(Top));
            if (options.FetchTop < 1 || options.FetchTop > 10000)
                return fail(QStringLiteral("--top: \"%1\" is not a number from 1 to 10000")
                                .arg(parser.value(Top)));
        }
        break;
    case TCommandMode::Windows:
    case TCommandMode::Help:
    case TCommandMode::Version:
        break;
    }
    return {options, {}};
}

QString CommandLineHelpText() {
    QCommandLineParser parser;
    DefineOptions(parser);
    QString text = parser.helpText();
    // The usage line names the program as it is installed, whatever path started it.
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("Usage: stendograph [options]") + text.mid(end);
}

QString CommandLineVersionText() {
    return QStringLiteral("stendograph (Стендограф) %1.%2\n")
        .arg(int{VersionMajor})
        .arg(int{VersionMinor});
}
