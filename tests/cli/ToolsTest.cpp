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

class Tool : public testing::TestWithParam<ToolCase> {
protected:
    ProgramRun Run(const QStringList& arguments) {
        // Without a display, as on a server: none of this may need one.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        return RunProgram(QStringLiteral(STENDO_BUILD_DIR "/bin/") + GetParam().Name, arguments,
                          Q(folder_.path()), environment);
    }
    TempDir folder_{false};
};

TEST_P(Tool, AnswersHelpAndRefusesWhatItDoesNotTake) {
    const std::string name = GetParam().Name;
    for (const char* help : {"--help", "-h"}) {
        SCOPED_TRACE(help);
        const ProgramRun run = Run({help});
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
        {GetParam().TooMany, ""},
    };
    for (const auto& mistake : mistakes) {
        SCOPED_TRACE(mistake.Arguments.join(' ').toStdString());
        const ProgramRun run = Run(mistake.Arguments);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_TRUE(run.Err.startsWith(QByteArray::fromStdString(name + ": ")))
            << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains(mistake.Says)) << run.Err.toStdString();
        EXPECT_TRUE(run.Out.isEmpty()) << run.Out.toStdString();
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder_.path())) << "a file was written";
}

INSTANTIATE_TEST_SUITE_P(Programs, Tool, testing::ValuesIn(Tools),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
