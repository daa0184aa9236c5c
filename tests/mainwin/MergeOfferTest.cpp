// Before any Qt header: the fixture has a variable that Qt's "slots" keyword would hide.
#include "state/StoreFixture.h"

#include "BoxAnswerer.h"
#include "mainwin/MergeOffer.h"
#include "state/StoreReset.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> FileOf(const std::vector<TComputerRecord>& computers) {
    std::vector<std::vector<TStringSlot>> devices(computers.size());
    std::vector<std::vector<TResultRecord>> results(computers.size());
    return *EncodeResultsFile(computers, devices, results, 1);
}

std::vector<std::string> Owners() {
    std::vector<std::string> owners;
    for (const TComputerRecord& computer : Computers)
        owners.push_back(StringSlotText(UnscrambleText(computer.Owner)));
    return owners;
}

// The store as Results.bin on disk holds it.
std::vector<std::string> OwnersOnDisk() {
    const auto saved = Computers;
    const auto savedDevices = ComputerDevices;
    const auto savedResults = ComputerResults;
    Computers.clear();
    ComputerDevices.clear();
    ComputerResults.clear();
    LoadResults("Results.bin");
    auto owners = Owners();
    Computers = saved;
    ComputerDevices = savedDevices;
    ComputerResults = savedResults;
    return owners;
}

struct MergeOffer : testing::Test {
    StartState state;
    TempDir folder{true};
};

TEST_F(MergeOffer, OtherBinFilesAreListedByNameButNeverResultsBin) {
    for (const char* name :
         {"Results.bin", "b.bin", "a.BIN", "results.bin", "c.bin.txt", "x.bi", ".hidden.bin"})
        WriteBytes(folder / name, {1, 2, 3});
    std::filesystem::create_directory(folder / "folder.bin");
    EXPECT_EQ(OtherResultsFiles("."),
              (std::vector<std::string>{".hidden.bin", "a.BIN", "b.bin", "results.bin"}));
}

TEST_F(MergeOffer, EachOtherFileIsAskedAboutAndYesMergesAndSaves) {
    WriteBytes(folder / "Results.bin", FileOf({MakeComputer("home")}));
    WriteBytes(folder / "a.bin", FileOf({MakeComputer("a")}));
    WriteBytes(folder / "b.bin", FileOf({MakeComputer("b")}));

    LoadResults("Results.bin");
    BoxAnswerer answerer({QMessageBox::Yes, QMessageBox::No});
    OfferResultsMerges(nullptr);

    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(answerer.Boxes()[0].Text,
              "Найден файл 'a.bin'.\r\nВозможно в нём содержатся результаты других "
              "тестирований\r\nОбъединить их с текущими результатами?");
    EXPECT_NE(answerer.Boxes()[1].Text.find("'b.bin'"), std::string::npos);
    EXPECT_EQ(Owners(), (std::vector<std::string>{"Иван home", "Иван a"}));
    // The Yes was saved at once; the No changed nothing, in memory or on disk.
    EXPECT_EQ(OwnersOnDisk(), (std::vector<std::string>{"Иван home", "Иван a"}));
}

TEST_F(MergeOffer, NoChangesNothing) {
    WriteBytes(folder / "Results.bin", FileOf({MakeComputer("home")}));
    WriteBytes(folder / "a.bin", FileOf({MakeComputer("a")}));
    const auto before = ReadBytes(folder / "Results.bin");
    LoadResults("Results.bin");
    BoxAnswerer answerer({QMessageBox::No});
    OfferResultsMerges(nullptr);
    EXPECT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(Owners(), (std::vector<std::string>{"Иван home"}));
    EXPECT_EQ(ReadBytes(folder / "Results.bin"), before);
}

TEST_F(MergeOffer, BadFilesMergeNothingAndCrashNothing) {
    WriteBytes(folder / "Results.bin", FileOf({MakeComputer("home")}));
    std::vector<std::uint8_t> truncated = FileOf({MakeComputer("t")});
    truncated.resize(truncated.size() / 2);
    WriteBytes(folder / "1-truncated.bin", truncated);
    std::vector<std::uint8_t> otherVersion = FileOf({MakeComputer("v")});
    otherVersion[ResultsVersionOffset + 1] = 4;
    WriteBytes(folder / "2-version.bin", otherVersion);
    // A count of computers far beyond the bytes there, with a trailing size that matches.
    std::vector<std::uint8_t> hostile = FileOf({});
    const std::uint32_t huge = 0x7fffffff;
    std::memcpy(hostile.data() + ResultsCountOffset, &huge, sizeof huge);
    WriteBytes(folder / "3-hostile.bin", hostile);
    WriteBytes(folder / "4-empty.bin", {});

    LoadResults("Results.bin");
    // Each Yes is followed by what the file lost and why.
    BoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Ok,
                          QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Ok});
    OfferResultsMerges(nullptr);
    ASSERT_EQ(answerer.Boxes().size(), 8u);
    const char* const told[] = {
        "Размер, указанный в файле «1-truncated.bin», не совпадает с его настоящим размером: "
        "файл обрезан или дополнен, из него не взято ничего.",
        "Файл «2-version.bin» записан версией 1.4 программы, а не 1.5, из него не взято ничего.",
        "Файл «3-hostile.bin» повреждён: блок 1-го компьютера (с байта 262) выходит за конец "
        "файла. Прочитано компьютеров: 0 из 2147483647, результатов: 0; остальные компьютеры "
        "(2147483647) и их результаты не прочитаны.",
        "Файл «4-empty.bin» слишком короткий для файла результатов, из него не взято ничего.",
    };
    for (std::size_t i = 0; i < std::size(told); ++i)
        EXPECT_EQ(answerer.Boxes()[2 * i + 1].Text, told[i]);
    EXPECT_EQ(Owners(), (std::vector<std::string>{"Иван home"}));
    EXPECT_EQ(OwnersOnDisk(), (std::vector<std::string>{"Иван home"}));
}

// A file whose records the reader does not all believe: the believed ones are merged, and the
// user is told how many were left out and why; the file itself stays as it was.
TEST_F(MergeOffer, RecordsThatCannotBeMeasurementsAreLeftOutAndTold) {
    WriteBytes(folder / "Results.bin", FileOf({MakeComputer("home")}));
    StoreImage other;
    TComputerRecord forged = MakeComputer("forged");
    forged.RecordTag = Scrambled("2");
    TResultRecord invented = MakeResult(9, 1024, 768, 32, 60);
    invented.RunCount = -2;
    other.Add(MakeComputer("a"), {"  chip"}, {MakeResult(8, 640, 480, 16, 30), invented});
    other.Add(forged, {"  chip"}, {MakeResult(8, 640, 480, 16, 30)});
    const auto bytes = other.Encode();
    WriteBytes(folder / "a.bin", bytes);

    LoadResults("Results.bin");
    BoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
    OfferResultsMerges(nullptr);
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(answerer.Boxes()[1].Text,
              "Из файла «a.bin» не взято компьютеров: 1 и результатов: 2 — это не могут быть "
              "измерения: число запусков не положительно (1); метка записи компьютера не «1» "
              "(1).");
    EXPECT_EQ(OwnersOnDisk(), (std::vector<std::string>{"Иван home", "Иван a"}));
    EXPECT_EQ(ComputerResults[1].size(), 1u);
    EXPECT_EQ(ReadBytes(folder / "a.bin"), bytes);
}

TEST_F(MergeOffer, StrangeFileNamesAreShownAsPlainTextAndStillMerged) {
    const std::string markup = "<b>bold<i>&amp;<img src=x>.bin"; // no slash: a name
    const std::string notUtf8 = "\xff\xfe-name.bin";
    WriteBytes(folder / markup, FileOf({MakeComputer("markup")}));
    WriteBytes(folder / notUtf8, FileOf({MakeComputer("bytes")}));

    BoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Yes});
    OfferResultsMerges(nullptr);
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    for (const auto& box : answerer.Boxes())
        EXPECT_EQ(box.Format, Qt::PlainText);
    EXPECT_NE(answerer.Boxes()[0].Text.find("'<b>bold<i>&amp;<img src=x>.bin'"), std::string::npos);
    EXPECT_NE(answerer.Boxes()[1].Text.find("'\xef\xbf\xbd\xef\xbf\xbd-name.bin'"),
              std::string::npos);
    // The file is opened by its own bytes, not by the name as shown.
    EXPECT_EQ(Owners(), (std::vector<std::string>{"Иван markup", "Иван bytes"}));
}

} // namespace
