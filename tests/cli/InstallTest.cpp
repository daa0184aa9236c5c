// The installed program: cmake --install into a temporary prefix puts every file in its place,
// the installed copy finds its runtime there, and it keeps its results in the user's data
// folder.
#include "ProgramRun.h"
#include "cli/UserFolder.h"
#include "state/StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

void WriteText(const std::filesystem::path& path, const QByteArray& text) {
    QFile file(Q(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QByteArray ReadText(const std::filesystem::path& path) {
    QFile file(Q(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The user's folder becomes the working folder, with the installed help; names given on the
// command line keep meaning the files of the folder the command started in.
TEST(UserFolder, EnteredWithTheInstalledHelpAndAbsoluteNames) {
    TempDir started(true);
    TempDir share;
    const auto user = started / "data" / "Стендограф";
    WriteText(share / "Help.html", "<p>help 1</p>");

    TCommandLineOptions options;
    options.ResultsFile = "sub/Other.bin";
    options.ResultsFileGiven = true;
    options.ChartFile = "chart.png";
    EXPECT_EQ(EnterUserFolder(Q(user), Q(share.path()), options), QString());
    EXPECT_EQ(std::filesystem::current_path(), user);
    EXPECT_EQ(ReadText(user / "Help.html"), "<p>help 1</p>");
    EXPECT_EQ(options.ResultsFile, Q(started / "sub/Other.bin"));
    EXPECT_EQ(options.ChartFile, Q(started / "chart.png"));

    // A newer installed help replaces the copy; the default results file stays relative, so
    // that it is the user folder's.
    WriteText(share / "Help.html", "<p>help 2</p>");
    TCommandLineOptions defaults;
    EXPECT_EQ(EnterUserFolder(Q(user), Q(share.path()), defaults), QString());
    EXPECT_EQ(ReadText(user / "Help.html"), "<p>help 2</p>");
    EXPECT_EQ(defaults.ResultsFile, "Results.bin");

    // A folder that cannot be made is an error.
    WriteText(started / "plain", "x");
    EXPECT_FALSE(
        EnterUserFolder(Q(started / "plain" / "sub"), Q(share.path()), defaults).isEmpty());
}

TEST(Install, IntoATemporaryPrefix) {
    TempDir prefix;
    const ProgramRun install =
        RunProgram(QStringLiteral(STENDO_CMAKE),
                   {"--install", QStringLiteral(STENDO_BUILD_DIR), "--prefix", Q(prefix.path())},
                   Q(prefix.path()));
    ASSERT_EQ(install.ExitCode, 0) << install.Out.toStdString() << install.Err.toStdString();

    for (const char* file :
         {"bin/stendograph", "lib/stendograph/libd3d8.so", "share/applications/stendograph.desktop",
          "share/icons/hicolor/scalable/apps/stendograph.svg",
          "share/metainfo/org.stendograph.Stendograph.metainfo.xml"})
        EXPECT_TRUE(std::filesystem::is_regular_file(prefix / file)) << file;
    EXPECT_FALSE(std::filesystem::exists(prefix / "bin/libd3d8.so"));
    const QByteArray desktop = ReadText(prefix / "share/applications/stendograph.desktop");
    EXPECT_TRUE(desktop.contains("\nExec=stendograph\n"));
    EXPECT_TRUE(desktop.contains("\nIcon=stendograph\n"));

    // The installed copy loads the installed runtime, through its RUNPATH.
    const ProgramRun version =
        RunProgram(Q(prefix / "bin/stendograph"), {"--version"}, Q(prefix.path()));
    EXPECT_EQ(version.ExitCode, 0) << version.Err.toStdString();
    EXPECT_EQ(version.Out.toStdString(), "stendograph (Стендограф) 1.5\nDirect3D 8 runtime: " +
                                             (prefix / "lib/stendograph/libd3d8.so").string() +
                                             "\n");

    // The copy of the build tree keeps using the runtime next to it.
    const ProgramRun built = RunStendograph({"--version"}, Q(prefix.path()));
    EXPECT_TRUE(built.Out.contains(QByteArray("Direct3D 8 runtime: " STENDO_BUILD_DIR)))
        << built.Out.toStdString();

    // Installed, Results.bin is the user's data folder's, wherever the program starts; the
    // installed help is copied there.
    if (!std::filesystem::exists(prefix / "share/stendograph/Help.html")) {
        std::filesystem::create_directories(prefix / "share/stendograph");
        WriteText(prefix / "share/stendograph/Help.html", "<p>help</p>");
    }
    const auto user = prefix / "data" / "Стендограф";
    std::filesystem::create_directories(user);
    StoreImage store;
    store.Add(MakeComputer("user folder"), {}, {MakeResult(1, 640, 480, 16, 25)});
    WriteBytes(user / "Results.bin", store.Encode());

    TempDir elsewhere;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", Q(prefix / "data"));
    const ProgramRun exported = RunProgram(Q(prefix / "bin/stendograph"), {"--export", "json"},
                                           Q(elsewhere.path()), environment);
    ASSERT_EQ(exported.ExitCode, 0) << exported.Err.toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(exported.Out).array();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].toObject()["video_adapter"].toString(), "Adapter user folder");
    EXPECT_EQ(ReadText(user / "Help.html"), ReadText(prefix / "share/stendograph/Help.html"));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}
