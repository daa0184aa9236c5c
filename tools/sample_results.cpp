// Writes a results file of invented computers, for trying the results server and its page:
//   sample_results FILE
// Forty computers of several kinds of processor and adapter, each with results in a few modes
// and kinds of acceleration; the same file every time.
#include "ToolArguments.h"
#include "platform/Cp1251.h"
#include "state/ResultPlausibility.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <QFile>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

TStringSlot Text(const std::string& utf8) {
    return ScrambleText(MakeStringSlot(Utf8ToCp1251(utf8)));
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.addPositionalArgument("FILE", "The results file to write.");
    if (const auto status = ReadToolArguments(
            parser, "sample_results",
            "Writes a results file of forty invented computers, the same file every time.", argc,
            argv, 1, 1))
        return *status;
    const QByteArray fileName = QFile::encodeName(parser.positionalArguments().first());
    const char* processors[] = {"Intel Pentium 4 (~2400MHz)", "AMD Athlon XP (~1833MHz)",
                                "Intel Celeron (~1700MHz)", "AMD Duron (~1300MHz)",
                                "Intel Pentium III (~1000MHz)"};
    const char* adapters[] = {"RADEON 9600", "GeForce FX 5700", "GeForce4 MX 440", "RADEON 7500",
                              "Intel 82845G Graphics"};
    const char* owners[] = {"Иван Петров", "Мария Соколова", "Лаборатория <b>3D</b>", "Сергей",
                            "n/d"};
    std::mt19937 random(2024);
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    for (int i = 0; i < 40; ++i) {
        const int p = static_cast<int>(random() % 5), a = static_cast<int>(random() % 5);
        TComputerRecord computer{};
        computer.Processor = Text(processors[p]);
        computer.VideoAdapter = Text(adapters[a]);
        computer.Chipset = Text("Host bridge");
        computer.MemoryMB = Text(std::to_string(256 << (random() % 3)));
        computer.OSName = Text("Debian GNU/Linux 12 (bookworm)");
        computer.Owner = Text(owners[random() % 5] + std::string(" #") + std::to_string(i + 1));
        computer.TimeZone = Text("Europe/Moscow (Bias=3)");
        computer.RecordTag = Text("1");
        const bool hardwareTransform = a < 3;
        computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
        computer.HalCaps.DevCaps = hardwareTransform ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0;
        computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
        computers.push_back(computer);
        devices.push_back({Text("  video"), Text("VGA compatible controller")});

        // A speed of this processor and adapter, and results around it.
        const float speed =
            (5 - p) * 900.0f + (5 - a) * 1500.0f + static_cast<float>(random() % 800);
        auto& list = results.emplace_back();
        for (int kind = hardwareTransform ? 0 : 1; kind < 3; ++kind)
            for (int size = 0; size < 3; ++size) {
                TResultRecord r{};
                r.Timestamp = 46000 + i + size / 10.0;
                r.TestSet = TestSet;
                r.Width = static_cast<std::uint16_t>(ModeSizes[size].Width);
                r.Height = static_cast<std::uint16_t>(ModeSizes[size].Height);
                r.Depth = 32;
                r.HardwareDevice = kind < 2 ? 1 : 0;
                r.HardwareVertexProcessing = kind == 0 ? 1 : 0;
                r.VertexBufferMode = 2;
                r.TextureMode = 2;
                r.DetailLevel = TestDetailLevel;
                const double trianglesPerMs =
                    speed / static_cast<float>(1 << (kind * 2)) / (1 + size * 0.2f);
                list.push_back(SteadyPassResult(
                    r, trianglesPerMs * 1000 / TrianglesPerFrame(TestDetailLevel), r.Timestamp));
            }
    }
    const auto file = EncodeResultsFile(computers, devices, results, 1);
    std::ofstream out(fileName.constData(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(file->data()),
              static_cast<std::streamsize>(file->size()));
    if (!out.flush()) {
        std::fprintf(stderr, "sample_results: %s could not be written\n", fileName.constData());
        return 1;
    }
    return 0;
}
