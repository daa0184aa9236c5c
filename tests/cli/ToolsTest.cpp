// Every tool and benchmark program of the repository, run as a user tries one out: --help
// tells what it takes and ends, an option it does not know is refused, and neither touches
// the working folder (no file named after the option) nor needs a display.
#include "ProgramRun.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

struct ToolCase {
    const char* Name;
    // A command line with one argument too many, refused like an unknown option.
    QStringList TooMany;
};

const ToolCase Tools[] = {
    {"sample_results", {"one.bin", "two.bin"}},
    {"make_pictures", {"one", "two"}},
    {"texture_sheet", {"one.png", "two.png"}},
    {"show_computer", {"extra"}},
    {"show_registry", {"extra"}},
    {"bench_pass", {"640", "480", "32", "ref", "4", "5"}},
    {"bench_raw_gl_scene", {"640", "480", "32", "4", "5"}},
    {"bench_results_store", {"extra"}},
    {"bench_results_window", {"extra"}},
    {"bench_server", {"many"}},
    {"bench_startup", {"extra"}},
    {"bench_textures", {"1", "2"}},
    {"bench_vertex_processing", {"1", "2", "3", "4"}},
    {"bench_chart_picture", {"extra"}},
};

// Without a display, as on a server: none of this may need one.
ProgramRun RunTool(const char* name, const QStringList& arguments, const TempDir& folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    return RunProgram(QStringLiteral(STENDO_BUILD_DIR "/bin/") + name, arguments, Q(folder.path()),
                      environment);
}

TEST(Tools, EachAnswersHelpAndRefusesWhatItDoesNotTake) {
    for (const ToolCase& tool : Tools) {
        SCOPED_TRACE(tool.Name);
        const std::string name = tool.Name;
        const TempDir folder(false);
        for (const char* help : {"--help", "-h"}) {
            SCOPED_TRACE(help);
            const ProgramRun run = RunTool(tool.Name, {help}, folder);
            EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
            EXPECT_TRUE(run.Out.startsWith(QByteArray::fromStdString("Usage: " + name + " ")))
                << run.Out.toStdString();
            EXPECT_TRUE(run.Out.contains("--help")) << run.Out.toStdString();
            EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();
        }
        const struct {
            QStringList Arguments;
            const char* Says;
        } mistakes[] = {
            {{"--no-such-option"}, "Unknown option 'no-such-option'"},
            {tool.TooMany, ""},
        };
        for (const auto& mistake : mistakes) {
            SCOPED_TRACE(mistake.Arguments.join(' ').toStdString());
            const ProgramRun run = RunTool(tool.Name, mistake.Arguments, folder);
            EXPECT_EQ(run.ExitCode, 2);
            EXPECT_TRUE(run.Err.startsWith(QByteArray::fromStdString(name + ": ")))
                << run.Err.toStdString();
            EXPECT_TRUE(run.Err.contains(mistake.Says)) << run.Err.toStdString();
            EXPECT_TRUE(run.Out.isEmpty()) << run.Out.toStdString();
        }
        EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "a file was written";
    }
}

} // namespace
