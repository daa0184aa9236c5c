// The command line as a table: what each line asks for, and the message of each mistake.
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

namespace {

QStringList Line(const char* text) {
    QStringList arguments{QStringLiteral("stendograph")};
    const QString line = QString::fromUtf8(text);
    if (!line.isEmpty())
        arguments += line.split(QLatin1Char(' '));
    return arguments;
}

} // namespace

TEST(CommandLine, AcceptedLines) {
    struct Case {
        const char* Line;
        TCommandMode Mode;
    } const cases[] = {
        {"", TCommandMode::Windows},
        {"--help", TCommandMode::Help},
        {"-h", TCommandMode::Help},
        {"--version", TCommandMode::Version},
        {"--export csv", TCommandMode::Export},
        {"--export=json --results Other.bin", TCommandMode::Export},
        {"--run --all-modes", TCommandMode::Run},
        {"--run --modes 640x480x16,1024x768x32 --accel hw+sw --presentation", TCommandMode::Run},
        {"--chart out.png --view 3 --accel any --rows 11:20", TCommandMode::Chart},
        {"--chart tall.BMP --rows 1:50", TCommandMode::Chart},
        {"--publish http://127.0.0.1:8080 --results Other.bin", TCommandMode::Publish},
        {"--fetch https://results.example/ --accel hw --top 500", TCommandMode::Fetch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        const auto parsed = ParseCommandLine(Line(c.Line));
        ASSERT_TRUE(parsed.Options) << parsed.Error.toStdString();
        EXPECT_EQ(parsed.Options->Mode, c.Mode);
        EXPECT_TRUE(parsed.Error.isEmpty());
    }
}

TEST(CommandLine, ValuesReachTheOptions) {
    auto run = ParseCommandLine(Line("--run --modes 640x480x16,1600X1200x32 --accel emulation"));
    ASSERT_TRUE(run.Options);
    for (int s = 0; s < 5; ++s)
        for (int d = 0; d < 2; ++d)
            EXPECT_EQ(run.Options->ModeChosen[s][d], (s == 0 && d == 0) || (s == 4 && d == 1))
                << s << " " << d;
    EXPECT_EQ(run.Options->Acceleration, TAcceleration::Emulation);
    EXPECT_FALSE(run.Options->Presentation);
    EXPECT_FALSE(run.Options->ResultsFileGiven);
    EXPECT_EQ(run.Options->ResultsFile, "Results.bin");

    auto all = ParseCommandLine(Line("--run --all-modes --presentation --results x/y.bin"));
    ASSERT_TRUE(all.Options);
    for (const auto& depths : all.Options->ModeChosen)
        EXPECT_TRUE(depths[0] && depths[1]);
    EXPECT_TRUE(all.Options->Presentation);
    EXPECT_FALSE(all.Options->Acceleration);
    EXPECT_TRUE(all.Options->ResultsFileGiven);
    EXPECT_EQ(all.Options->ResultsFile, "x/y.bin");

    auto exported = ParseCommandLine(Line("--export json"));
    ASSERT_TRUE(exported.Options);
    EXPECT_EQ(exported.Options->ExportFormat, TExportFormat::Json);

    auto chart = ParseCommandLine(Line("--chart Рисунок.PNG --view 12 --rows 5:30 --accel sw"));
    ASSERT_TRUE(chart.Options);
    EXPECT_EQ(chart.Options->ChartFile, QStringLiteral("Рисунок.PNG"));
    EXPECT_EQ(chart.Options->ChartView, TChartView::Computer);
    EXPECT_EQ(chart.Options->ChartComputer, 12);
    EXPECT_EQ(chart.Options->ChartRows, (std::pair{5, 30}));
    EXPECT_EQ(chart.Options->Acceleration, TAcceleration::Sw);

    auto fetch = ParseCommandLine(Line("--fetch http://host:9/ --accel emulation --top 7"));
    ASSERT_TRUE(fetch.Options);
    EXPECT_EQ(fetch.Options->ServerUrl, "http://host:9/");
    EXPECT_EQ(fetch.Options->Acceleration, TAcceleration::Emulation);
    EXPECT_EQ(fetch.Options->FetchTop, 7);
    auto defaults = ParseCommandLine(Line("--fetch http://host"));
    ASSERT_TRUE(defaults.Options);
    EXPECT_EQ(defaults.Options->FetchTop, 100);
    EXPECT_FALSE(defaults.Options->Acceleration);

    auto current = ParseCommandLine(Line("--chart a.png --view current"));
    ASSERT_TRUE(current.Options);
    EXPECT_EQ(current.Options->ChartView, TChartView::Current);
    EXPECT_FALSE(current.Options->ChartRows);
}

TEST(CommandLine, MistakesAreNamed) {
    struct Case {
        const char* Line;
        const char* Error; // a part of the message
    } const cases[] = {
        {"--frobnicate", "frobnicate"},
        {"stray", "unexpected argument \"stray\""},
        {"-run", "Unknown option"},
        {"--export", "Missing value"},
        {"--export xml", "--export: \"xml\" is neither csv nor json"},
        {"--export csv --export json", "--export is given more than once"},
        {"--export csv --run --all-modes", "exclude each other"},
        {"--results a.bin", "--results belongs to"},
        {"--export csv --results=", "the file name is empty"},
        {"--export csv --modes 640x480x16", "--modes belongs to --run"},
        {"--export csv --accel hw", "--accel belongs to --run, --chart or --fetch"},
        {"--publish ftp://x", "--publish: \"ftp://x\" is no http:// or https:// address"},
        {"--fetch host:8080", "--fetch: \"host:8080\" is no http"},
        {"--fetch http://x --top 0", "--top: \"0\" is not a number from 1 to 10000"},
        {"--fetch http://x --top 10001", "--top: \"10001\" is not a number"},
        {"--fetch http://x --results a.bin", "--results belongs to"},
        {"--publish http://x --top 5", "--top belongs to --fetch"},
        {"--publish http://x --fetch http://x", "exclude each other"},
        {"--fetch http://x --accel hw+sw", "\"hw+sw\" is none of any, hw, sw, emulation"},
        {"--all-modes", "--all-modes belongs to --run"},
        {"--run", "--run needs either --modes or --all-modes"},
        {"--run --modes 640x480x16 --all-modes", "--modes and --all-modes exclude each other"},
        {"--version --run --all-modes", "--version takes no other option"},
        {"--help --export csv", "--help takes no other option"},
        {"-h --version", "--help takes no other option"},
        {"--run --modes 640x480x24", "\"640x480x24\" is not one of the display modes"},
        {"--run --modes 800x480x16", "\"800x480x16\" is not one of the display modes"},
        {"--run --modes 640x480x16,", "\"\" is not one of the display modes"},
        {"--run --modes 640x480x16,640x480x16", "640x480x16 is given twice"},
        {"--run --all-modes --accel any", "\"any\" is none of hw+sw, hw, sw, emulation"},
        {"--run --all-modes --accel HW", "\"HW\" is none of"},
        {"--chart a.png --accel hw+sw", "\"hw+sw\" is none of any, hw, sw, emulation"},
        {"--chart a.gif", "\"a.gif\" is neither a .png nor a .bmp file name"},
        {"--chart a.png --view 0", "--view: \"0\" is none of"},
        {"--chart a.png --view -1", "--view: \"-1\" is none of"},
        {"--chart a.png --rows 1:0", "--rows: \"1:0\" is not FIRST:COUNT"},
        {"--chart a.png --rows 3", "--rows: \"3\" is not FIRST:COUNT"},
        {"--chart a.png --rows 1:2:3", "is not FIRST:COUNT"},
        {"--export csv --rows 1:2", "--rows belongs to --chart"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        const auto parsed = ParseCommandLine(Line(c.Line));
        EXPECT_FALSE(parsed.Options);
        EXPECT_TRUE(parsed.Error.contains(QString::fromUtf8(c.Error)))
            << parsed.Error.toStdString();
    }
}

TEST(CommandLine, HelpListsEveryOptionAndVersionIsOnePointFive) {
    const QString help = CommandLineHelpText();
    EXPECT_TRUE(help.startsWith(QStringLiteral("Usage: stendograph [options]\n")));
    for (const char* option :
         {"--help", "--version", "--run", "--modes", "--all-modes", "--accel", "--presentation",
          "--results", "--export", "--chart", "--view", "--rows", "--publish", "--fetch", "--top"})
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
    EXPECT_EQ(CommandLineVersionText(), QStringLiteral("stendograph (Стендограф) 1.5\n"));
}
