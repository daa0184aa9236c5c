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
    BoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes});
    OfferResultsMerges(nullptr);
    EXPECT_EQ(answerer.Boxes().size(), 4u);
    EXPECT_EQ(Owners(), (std::vector<std::string>{"Иван home"}));
    EXPECT_EQ(OwnersOnDisk(), (std::vector<std::string>{"Иван home"}));
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
