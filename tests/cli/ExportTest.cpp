// --export of real results files written by the program's own SaveResults: every field, the
// Cyrillic texts, CSV as Python's csv module reads it, and damaged files.
#include "ProgramRun.h"
#include "cli/ResultsExport.h"
#include "platform/Cp1251.h"
#include "state/StoreFixture.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

// A stored text as the program stores it: code page 1251, scrambled.
TStringSlot Stored(const std::string& utf8) {
    return ScrambleText(MakeStringSlot(Utf8ToCp1251(utf8)));
}

TComputerRecord CyrillicComputer(const std::string& owner) {
    TComputerRecord computer{};
    computer.Processor = Stored("Процессор \"Эльбрус\", 8 ядер (~1500MHz)");
    computer.VideoAdapter = Stored("llvmpipe (LLVM 15.0.6, 256 bits)");
    computer.Chipset = Stored("n/d");
    computer.MemoryMB = Stored("16384");
    computer.OSName = Stored("Debian GNU/Linux 12 (bookworm)");
    computer.Owner = Stored(owner);
    computer.TimeZone = Stored("Europe/Moscow (Bias=3)");
    computer.RecordTag = Stored("1");
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

// A measured result with every field set: software vertex processing, textures in the default
// pool, a refresh rate, three runs.
TResultRecord FullResult() {
    TResultRecord config{};
    config.TestSet = 1;
    config.Width = 1024;
    config.Height = 768;
    config.Depth = 32;
    config.RefreshRate = 60;
    config.HardwareDevice = 1;
    config.HardwareVertexProcessing = 0;
    config.VertexBufferMode = 2;
    config.TextureMode = 1;
    config.DetailLevel = 4;
    TResultRecord r = SteadyPassResult(config, 59.9, 46366.5 + 1.0 / 86400); // 10 December 2026,
                                                                             // 12:00:01
    r.BlackPercent = 7;
    r.EmptyFps = 65535;
    r.AvailPhys[0] = 1;
    r.AvailPhys[1] = 2;
    r.AvailPhys[2] = 3;
    r.AvailPhys[3] = 4294967295u;
    r.AvailTextureMem[0] = 5;
    r.AvailTextureMem[1] = 6;
    r.AvailTextureMem[2] = 7;
    r.AvailTextureMem[3] = 268435456;
    r.FpsSum = 179.7f;
    r.FpsMin = 58.5f;
    r.FpsMax = 61.3f;
    r.RunCount = 3;
    return r;
}

// Two computers: the first with two results (a test with every field set, a presentation in
// full emulation), the second, with a Cyrillic owner and no results, once.
StoreImage SavedStore() {
    StoreImage store;
    TResultRecord presentation = MakeResult(46000.25, 640, 480, 16, 10.5f, 1);
    presentation.HardwareDevice = 0;
    presentation.HardwareVertexProcessing = 0;
    store.Computers.push_back(CyrillicComputer("Иван Петрович Сидоров"));
    store.Devices.push_back({Stored("  chip"), Stored("Мост, \"северный\""), Stored("  video"),
                             Stored("Видеоадаптер")});
    store.Results.push_back({FullResult(), presentation});
    store.Computers.push_back(CyrillicComputer("Ёлкин"));
    store.Devices.push_back({});
    store.Results.push_back({});
    return store;
}

class ExportTest : public StoreTest {
protected:
    // Saves the store as Results.bin of the working folder with the program's own writer.
    void Save(const StoreImage& store) {
        store.ToGlobals();
        SaveResults();
        Clear();
    }
    QString Folder() const { return QString::fromStdString(dir_.path().string()); }
};

// A JSON number or null as a float32 or float64 reads it back.
template <typename Real> void ExpectReal(const QJsonValue& value, Real stored, const char* name) {
    SCOPED_TRACE(name);
    if (!std::isfinite(stored)) {
        EXPECT_TRUE(value.isNull());
        return;
    }
    ASSERT_TRUE(value.isDouble());
    EXPECT_EQ(static_cast<Real>(value.toDouble()), stored);
}

} // namespace

TEST_F(ExportTest, JsonOfASavedFileFieldByField) {
    const StoreImage store = SavedStore();
    Save(store);
    const ProgramRun run = RunStendograph({"--export", "json"}, Folder());
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.Out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonArray rows = document.array();
    ASSERT_EQ(rows.size(), 3);
    for (const auto& row : rows)
        EXPECT_EQ(row.toObject().keys().size(), ExportColumnNames().size());

    const QJsonObject test = rows[0].toObject();
    EXPECT_EQ(test["computer"].toInt(), 1);
    EXPECT_EQ(test["processor"].toString(),
              QStringLiteral("Процессор \"Эльбрус\", 8 ядер (~1500MHz)"));
    EXPECT_EQ(test["video_adapter"].toString(), "llvmpipe (LLVM 15.0.6, 256 bits)");
    EXPECT_EQ(test["chipset"].toString(), "n/d");
    EXPECT_EQ(test["memory_mb"].toString(), "16384");
    EXPECT_EQ(test["os_name"].toString(), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(test["owner"].toString(), QStringLiteral("Иван Петрович Сидоров"));
    EXPECT_EQ(test["time_zone"].toString(), "Europe/Moscow (Bias=3)");
    EXPECT_EQ(test["record_tag"].toString(), "1");
    EXPECT_EQ(test["hal_device"].toInt(), 0);
    EXPECT_EQ(test["hal_transform_and_lighting"].toInt(), 0);
    EXPECT_EQ(test["devices"].toArray(), QJsonArray({"  chip", QStringLiteral("Мост, \"северный\""),
                                                     "  video", QStringLiteral("Видеоадаптер")}));

    const TResultRecord r = FullResult();
    EXPECT_EQ(test["time"].toString(), "2026-12-10T12:00:01");
    ExpectReal(test["timestamp"], r.Timestamp, "timestamp");
    EXPECT_EQ(test["test_set"].toInt(), 1);
    EXPECT_EQ(test["width"].toInt(), 1024);
    EXPECT_EQ(test["height"].toInt(), 768);
    EXPECT_EQ(test["depth"].toInt(), 32);
    EXPECT_EQ(test["refresh_rate"].toInt(), 60);
    EXPECT_EQ(test["acceleration"].toString(), "sw");
    EXPECT_EQ(test["hardware_device"].toInt(), 1);
    EXPECT_EQ(test["hardware_vertex_processing"].toInt(), 0);
    EXPECT_EQ(test["vertex_buffer_mode"].toInt(), 2);
    EXPECT_EQ(test["texture_mode"].toInt(), 1);
    EXPECT_EQ(test["detail_level"].toInt(), 4);
    EXPECT_EQ(test["black_percent"].toInt(), 7);
    ExpectReal(test["sum_log_frame_time"], r.SumLogFrameTime, "sum_log_frame_time");
    ExpectReal(test["sum_sq_log_frame_time"], r.SumSqLogFrameTime, "sum_sq_log_frame_time");
    ExpectReal(test["triangles_per_ms"], r.TrianglesPerMs, "triangles_per_ms");
    ExpectReal(test["fps"], r.Fps, "fps");
    ExpectReal(test["min_fps"], r.MinFps, "min_fps");
    ExpectReal(test["max_fps"], r.MaxFps, "max_fps");
    ExpectReal(test["frame_time_spread"], r.FrameTimeSpread, "frame_time_spread");
    EXPECT_EQ(test["frame_count"].toInteger(), r.FrameCount);
    EXPECT_EQ(test["total_time_ms"].toInteger(), r.TotalTimeMs);
    EXPECT_EQ(test["empty_fps"].toInteger(), 65535);
    EXPECT_EQ(test["avail_phys_1"].toInteger(), 1);
    EXPECT_EQ(test["avail_phys_2"].toInteger(), 2);
    EXPECT_EQ(test["avail_phys_3"].toInteger(), 3);
    EXPECT_EQ(test["avail_phys_4"].toInteger(), 4294967295);
    EXPECT_EQ(test["avail_texture_mem_1"].toInteger(), 5);
    EXPECT_EQ(test["avail_texture_mem_2"].toInteger(), 6);
    EXPECT_EQ(test["avail_texture_mem_3"].toInteger(), 7);
    EXPECT_EQ(test["avail_texture_mem_4"].toInteger(), 268435456);
    ExpectReal(test["fps_sum"], r.FpsSum, "fps_sum");
    ExpectReal(test["fps_min"], r.FpsMin, "fps_min");
    ExpectReal(test["fps_max"], r.FpsMax, "fps_max");
    EXPECT_EQ(test["run_count"].toInt(), 3);
    // The shortest decimal of the float, not the digits of its double.
    EXPECT_TRUE(run.Out.contains("\"fps\": 59.9,")) << run.Out.toStdString();

    const QJsonObject presentation = rows[1].toObject();
    EXPECT_EQ(presentation["computer"].toInt(), 1);
    EXPECT_EQ(presentation["acceleration"].toString(), "emulation");
    EXPECT_EQ(presentation["detail_level"].toInt(), 1);
    ExpectReal(presentation["fps"], 10.5f, "fps");
    EXPECT_EQ(presentation["time"].toString(), "2025-12-09T06:00:00");

    // The computer without results: once, its result fields null.
    const QJsonObject alone = rows[2].toObject();
    EXPECT_EQ(alone["computer"].toInt(), 2);
    EXPECT_EQ(alone["owner"].toString(), QStringLiteral("Ёлкин"));
    EXPECT_EQ(alone["devices"].toArray(), QJsonArray());
    for (const char* name : {"time", "timestamp", "width", "acceleration", "fps", "run_count"})
        EXPECT_TRUE(alone[QLatin1String(name)].isNull()) << name;
}

// The CSV as Python's csv module reads it: the header, quoted commas, quotes and line breaks,
// UTF-8, and numbers that Python reads back to the stored values.
TEST_F(ExportTest, CsvReadByPythonsCsvModule) {
    Save(SavedStore());
    TempDir elsewhere;
    const QString file = Folder() + QStringLiteral("/Results.bin");
    const ProgramRun run = RunStendograph({"--export", "csv", "--results", file},
                                          QString::fromStdString(elsewhere.path().string()));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.endsWith("\r\n"));
    const QString csvFile = QString::fromStdString((elsewhere / "export.csv").string());
    {
        QFile out(csvFile);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(run.Out);
    }

    // Python parses the file and hands back its rows, the floats as Python reads them
    // (repr of float(x), which is the float64 nearest the text) for the columns asked.
    const char* script = R"(
import csv, json, struct, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f, strict=True))
header = rows[0]
def f32(text):
    return None if text == '' else struct.unpack('<f', struct.pack('<f', float(text)))[0]
out = {'header': header, 'rows': [dict(zip(header, r)) for r in rows[1:]],
       'widths': [len(r) for r in rows],
       'fps': [f32(dict(zip(header, r))['fps']) for r in rows[1:]],
       'timestamp': [float(t) if t else None for t in (dict(zip(header, r))['timestamp'] for r in rows[1:])]}
print(json.dumps(out))
)";
    const ProgramRun python =
        RunProgram(QStringLiteral("python3"), {"-c", script, csvFile}, Folder());
    ASSERT_EQ(python.ExitCode, 0) << python.Err.toStdString();
    const QJsonObject parsed = QJsonDocument::fromJson(python.Out).object();
    ASSERT_FALSE(parsed.isEmpty()) << python.Out.toStdString() << python.Err.toStdString();

    QStringList header;
    for (const auto& name : parsed["header"].toArray())
        header.append(name.toString());
    EXPECT_EQ(header, ExportColumnNames());
    for (const auto& width : parsed["widths"].toArray())
        EXPECT_EQ(width.toInt(), header.size());

    const QJsonArray rows = parsed["rows"].toArray();
    ASSERT_EQ(rows.size(), 3);
    const QJsonObject test = rows[0].toObject();
    EXPECT_EQ(test["processor"].toString(),
              QStringLiteral("Процессор \"Эльбрус\", 8 ядер (~1500MHz)"));
    EXPECT_EQ(test["owner"].toString(), QStringLiteral("Иван Петрович Сидоров"));
    EXPECT_EQ(test["devices"].toString(),
              QStringLiteral("  chip\nМост, \"северный\"\n  video\nВидеоадаптер"));
    EXPECT_EQ(test["frame_count"].toString(), QString::number(FullResult().FrameCount));
    EXPECT_EQ(test["acceleration"].toString(), "sw");
    EXPECT_EQ(static_cast<float>(parsed["fps"].toArray()[0].toDouble()), 59.9f);
    EXPECT_EQ(static_cast<float>(parsed["fps"].toArray()[1].toDouble()), 10.5f);
    EXPECT_EQ(parsed["timestamp"].toArray()[0].toDouble(), FullResult().Timestamp);
    EXPECT_TRUE(parsed["timestamp"].toArray()[2].isNull());

    const QJsonObject alone = rows[2].toObject();
    EXPECT_EQ(alone["computer"].toString(), "2");
    EXPECT_EQ(alone["owner"].toString(), QStringLiteral("Ёлкин"));
    EXPECT_EQ(alone["fps"].toString(), "");
    EXPECT_EQ(alone["width"].toString(), "");
}

// A damaged or hostile file exports what the reader merges, and standard error says what it
// left; a file the reader takes nothing from is an error.
TEST_F(ExportTest, DamagedFilesExportWhatTheReaderMerges) {
    StoreImage two;
    two.Add(CyrillicComputer("Первый"), {"  chip"}, {MakeResult(10, 640, 480, 16, 20)});
    two.Add(CyrillicComputer("Второй"), {"  chip"}, {MakeResult(10, 800, 600, 16, 30)});
    const auto good = two.Encode();
    const std::size_t blockB =
        ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 + 256 + 4 + sizeof(TResultRecord);
    const auto withInt32 = [&](std::size_t at, std::int32_t value) {
        auto bytes = good;
        std::memcpy(bytes.data() + at, &value, 4);
        return bytes;
    };
    auto otherVersion = good;
    otherVersion[ResultsVersionOffset + 1] = 4;
    auto cut = good;
    cut.resize(cut.size() - 100);
    // The triangles per ms of the first computer's result, raised by a flipped byte.
    auto flipped = good;
    flipped[ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 + 256 + 4 + 35] ^= 0x40;

    // The same computer twice, its second block with an older result of the same test.
    StoreImage repeated;
    repeated.Add(CyrillicComputer("Первый"), {"  chip"}, {MakeResult(10, 640, 480, 16, 20)});
    repeated.Add(CyrillicComputer("Первый"), {"  other"}, {MakeResult(5, 640, 480, 16, 99)});

    struct Case {
        const char* Name;
        std::vector<std::uint8_t> Bytes;
        int ExitCode;
        int Rows;
        const char* Message; // a part of standard error; empty: nothing said
    } const cases[] = {
        {"whole", good, 0, 2, ""},
        {"second block's line count runs past the end", withInt32(blockB + 2472, 1000), 0, 1,
         "computer block 2 (at byte 3110) states more than the file holds"},
        {"more computers stated than held", withInt32(ResultsCountOffset, 7), 0, 2,
         "states 7 computers but holds 2; the rest is ignored"},
        {"fewer computers stated than held", withInt32(ResultsCountOffset, 1), 0, 1,
         "2848 bytes after the last computer ignored"},
        {"the same computer twice", repeated.Encode(), 0, 1,
         "1 computer block repeated an earlier computer"},
        {"a result with a flipped byte", flipped, 0, 2,
         "result 1 of computer block 1 left out: its triangles per ms disagree with its frame "
         "rate"},
        {"version 1.4", otherVersion, 2, -1, "results of version 1.4, not 1.5; ignored whole"},
        {"cut short", cut, 2, -1, "the size it states is not its size"},
        {"empty", {}, 2, -1, "too short to be a results file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteBytes(dir_ / "Results.bin", c.Bytes);
        const ProgramRun run = RunStendograph({"--export", "json"}, Folder());
        EXPECT_EQ(run.ExitCode, c.ExitCode);
        if (*c.Message == '\0') {
            EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();
        } else {
            EXPECT_TRUE(run.Err.contains(QByteArray("stendograph: Results.bin: ") + c.Message))
                << run.Err.toStdString();
        }
        if (c.Rows < 0) {
            EXPECT_TRUE(run.Out.isEmpty());
            continue;
        }
        const QJsonArray rows = QJsonDocument::fromJson(run.Out).array();
        ASSERT_EQ(rows.size(), c.Rows);
        EXPECT_EQ(rows[0].toObject()["owner"].toString(), QStringLiteral("Первый"));
    }
    // The repeated computer kept its first device list and its later result.
    WriteBytes(dir_ / "Results.bin", repeated.Encode());
    const QJsonArray rows =
        QJsonDocument::fromJson(RunStendograph({"--export", "json"}, Folder()).Out).array();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].toObject()["devices"].toArray(), QJsonArray({"  chip"}));
    EXPECT_EQ(rows[0].toObject()["fps"].toDouble(), 20);
}

TEST_F(ExportTest, MissingOrUnreadableFileIsAnError) {
    std::filesystem::create_directory(dir_ / "Folder.bin");
    struct Case {
        QStringList Arguments;
        const char* Message;
    } const cases[] = {
        {{"--export", "csv"}, "stendograph: Results.bin: no such file\n"},
        {{"--export", "json", "--results", "nowhere/Other.bin"},
         "stendograph: nowhere/Other.bin: no such file\n"},
        {{"--export", "csv", "--results", "Folder.bin"},
         "stendograph: Folder.bin: not a regular file\n"},
        {{"--export", "yaml"},
         "stendograph: --export: \"yaml\" is neither csv nor json\nTry 'stendograph --help'.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        const ProgramRun run = RunStendograph(c.Arguments, Folder());
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Err.toStdString(), c.Message);
        EXPECT_TRUE(run.Out.isEmpty());
    }
    // Nothing was created by looking.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Results.bin"));
}

// No file the reader takes holds a NaN or an infinity, but a store in memory may: they are
// empty in CSV and null in JSON, never a text another program misreads.
TEST(ExportNumbers, NonFiniteFiguresAreEmptyOrNull) {
    TResultRecord result = FullResult();
    result.MinFps = NAN;
    result.MaxFps = INFINITY;
    const TExportStore store{{TComputerRecord{}}, {{}}, {{result}}};
    const QJsonObject row = ExportJsonRow(1, store.Computers[0], {}, &result);
    EXPECT_TRUE(row["min_fps"].isNull());
    EXPECT_TRUE(row["max_fps"].isNull());
    const QList<QByteArray> lines = ExportCsv(store).split('\n');
    ASSERT_GE(lines.size(), 2);
    const QList<QByteArray> fields = lines[1].trimmed().split(',');
    const QStringList names = ExportColumnNames();
    ASSERT_EQ(fields.size(), names.size());
    EXPECT_EQ(fields[names.indexOf("min_fps")], "");
    EXPECT_EQ(fields[names.indexOf("max_fps")], "");
    EXPECT_EQ(fields[names.indexOf("fps")], "59.9");
}

// The time of a record is the measuring computer's local time as the record states it: the
// exporting computer's zone changes nothing, even for a time its daylight saving skips.
TEST(ExportTime, TheRecordsOwnTimeWhateverTheExportingZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    TResultRecord result{};
    // 29 March 2026, 02:30: the clocks in Berlin go from 02:00 straight to 03:00.
    result.Timestamp =
        static_cast<double>(QDate(1899, 12, 30).daysTo(QDate(2026, 3, 29))) + 2.5 / 24;
    const QJsonObject row = ExportJsonRow(1, TComputerRecord{}, {}, &result);
    EXPECT_EQ(row["time"].toString().toStdString(), "2026-03-29T02:30:00");
    if (old != nullptr)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// The row written straight as text is the object ExportJsonRow builds, for texts that need
// escaping, Cyrillic, devices, a computer without results and figures that are no
// numbers; without the column left out and with the members added.
TEST(ExportJsonText, TheSameObjectAsTheBuiltRow) {
    TResultRecord odd = FullResult();
    odd.MinFps = NAN;
    odd.MaxFps = INFINITY;
    odd.Fps = 1e-7f;
    const struct {
        const char* Owner;
        std::vector<TStringSlot> Devices;
        const TResultRecord* Result;
    } cases[] = {
        {"Иван \"Ваня\" Петров", {Stored("GeForce\\2"), Stored("мышь")}, &odd},
        {"tab\there, line\nbreak, bell\a, \x1f and \\ end", {}, nullptr},
        {"", {Stored("")}, &odd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Owner);
        TComputerRecord computer = CyrillicComputer(c.Owner);
        QByteArray text;
        AppendExportJsonRow(text, 7, computer, c.Devices, c.Result);
        QJsonParseError error{};
        const QJsonDocument parsed = QJsonDocument::fromJson(text, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
        EXPECT_EQ(parsed.object(), ExportJsonRow(7, computer, c.Devices, c.Result));

        QByteArray trimmed;
        AppendExportJsonRow(trimmed, 7, computer, c.Devices, c.Result, "devices", "\"rank\":3");
        QJsonObject expected = ExportJsonRow(7, computer, c.Devices, c.Result);
        expected.remove("devices");
        expected.insert("rank", 3);
        EXPECT_EQ(QJsonDocument::fromJson(trimmed).object(), expected) << trimmed.toStdString();
    }
}
