// What the series tests share: the shared state saved and restored around a test, a computer
// in the store, a pass that records a plausible result without drawing, reading Results.bin
// back from disk, and a user who answers message boxes.
#pragma once

#include "bench/PassLogic.h"
#include "state/RecordColumns.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"
#include "support/OnScreen.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// The whole shared state of a series, put back as it was when the object goes.
class SharedStateGuard {
public:
    SharedStateGuard()
        : computer_(CurrentComputer), index_(CurrentComputerIndex), computers_(Computers),
          devices_(ComputerDevices), results_(ComputerResults), test_(CurrentTest),
          changed_(ResultsChanged), failed_(TestFailed), status_(StatusText) {
        std::memcpy(available_, ModeAvailable, sizeof available_);
    }
    ~SharedStateGuard() {
        CurrentComputer = computer_;
        CurrentComputerIndex = index_;
        Computers = computers_;
        ComputerDevices = devices_;
        ComputerResults = results_;
        CurrentTest = test_;
        ResultsChanged = changed_;
        TestFailed = failed_;
        StatusText = status_;
        std::memcpy(ModeAvailable, available_, sizeof available_);
    }
    SharedStateGuard(const SharedStateGuard&) = delete;
    SharedStateGuard& operator=(const SharedStateGuard&) = delete;

private:
    TComputerRecord computer_;
    std::int32_t index_;
    std::vector<TComputerRecord> computers_;
    std::vector<std::vector<TStringSlot>> devices_;
    std::vector<std::vector<TResultRecord>> results_;
    TTestConfig test_;
    bool changed_;
    bool failed_;
    std::string status_;
    std::uint8_t available_[ModeSizeCount][ModeDepthCount];
};

// A computer told apart from others by its owner's name.
inline TComputerRecord ComputerOf(const std::string& owner, const D3DCAPS8& halCaps,
                                  const D3DCAPS8& refCaps = D3DCAPS8{}) {
    TComputerRecord computer{};
    computer.Owner = ScrambleText(MakeStringSlot(owner));
    computer.MemoryMB = ScrambleText(MakeStringSlot("512"));
    computer.RecordTag = MakeStringSlot("1");
    computer.HalCaps = halCaps;
    computer.RefCaps = refCaps;
    return computer;
}

// An empty store holding only this computer, as the main window leaves it after start-up.
inline void StartWithComputer(const std::string& owner, const D3DCAPS8& halCaps,
                              const D3DCAPS8& refCaps = D3DCAPS8{}) {
    Computers.clear();
    ComputerDevices.clear();
    ComputerResults.clear();
    CurrentComputer = ComputerOf(owner, halCaps, refCaps);
    Computers.push_back(CurrentComputer);
    ComputerDevices.emplace_back();
    ComputerResults.emplace_back();
    CurrentComputerIndex = 0;
    ResultsChanged = false;
    TestFailed = false;
    StatusText.clear();
}

// What a successful pass of CurrentTest leaves behind, without a screen: a result built from
// a few frames of 20 ms, stored as the pass stores it.
inline void RecordPlausiblePass() {
    TPassMeasurements pass;
    for (int i = 0; i < 5; ++i)
        pass.Stats.AddFrame(20);
    pass.Stats.N = 5;
    pass.TriangleCount = static_cast<std::int32_t>(TrianglesPerFrame(CurrentTest.DetailLevel));
    pass.EmptyFps = 500;
    StoreResult(ComputerResults[static_cast<std::size_t>(CurrentComputerIndex)],
                BuildResultRecord(CurrentTest, pass, CurrentDateTime()));
    ResultsChanged = true;
    SetStatusText("Test was completed successfully.");
}

// The store that Results.bin in the working directory holds, read straight from the bytes.
struct StoreOnDisk {
    std::vector<TComputerRecord> Computers;
    std::vector<std::vector<TStringSlot>> Devices;
    std::vector<std::vector<TResultRecord>> Results;

    // The results of the computer equal to computer; null when it is not there.
    const std::vector<TResultRecord>* ResultsOf(const TComputerRecord& computer) const {
        for (std::size_t i = 0; i < Computers.size(); ++i)
            if (std::memcmp(&Computers[i], &computer, sizeof computer) == 0)
                return &Results[i];
        return nullptr;
    }
};

inline StoreOnDisk ReadResultsFile(const std::string& name = "Results.bin") {
    std::ifstream file(name, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    StoreOnDisk store;
    EXPECT_FALSE(bytes.empty()) << name << " is missing or empty";
    TMergeReport report;
    MergeResultsFile(bytes, LatestPlausibleTimestamp(), store.Computers, store.Devices,
                     store.Results, &report);
    EXPECT_TRUE(report.TookEverything())
        << DescribeMergeReport(QString::fromStdString(name), report).join('\n').toStdString();
    return store;
}

inline bool SameConfiguration(const TResultRecord& r, const TTestConfig& test) {
    return std::memcmp(reinterpret_cast<const std::uint8_t*>(&r) + 10, &test, 6) == 0 &&
           std::memcmp(reinterpret_cast<const std::uint8_t*>(&r) + 18, &test.HardwareDevice, 5) ==
               0;
}

// A user at the screen who answers every message box that comes up with the button answer,
// noting what each box said. Checks every 20 ms while any modal loop runs.
class MessageBoxUser {
public:
    struct Seen {
        QString Text;
        Qt::TextFormat Format;
        QMessageBox::StandardButtons Buttons;
    };

    explicit MessageBoxUser(QMessageBox::StandardButton answer = QMessageBox::Ok,
                            std::function<void(const Seen&)> whenSeen = {})
        : answer_(answer), whenSeen_(std::move(whenSeen)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start(20);
    }

    const std::vector<Seen>& Boxes() const { return seen_; }

private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // A box answered is hidden at once, so each box is answered once.
        if (box == nullptr || !box->isVisible())
            return;
        const Seen seen{box->text(), box->textFormat(), box->standardButtons()};
        seen_.push_back(seen);
        if (whenSeen_)
            whenSeen_(seen);
        SavePictures(*box);
        QAbstractButton* button = box->button(answer_);
        if (button != nullptr)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            box->reject();
    }

    // Pictures to look at, when asked for: the box, and the whole screen under it.
    void SavePictures(QMessageBox& box) {
        const QByteArray dir = qgetenv("STENDO_SHOT_DIR");
        if (dir.isEmpty())
            return;
        static int count = 0;
        const QString stem = QString::fromLocal8Bit(dir) + QString("/box-%1").arg(++count);
        ShownAsPainted(box); // on the screen before the screen is taken
        box.grab().save(stem + ".png");
        if (QScreen* screen = box.screen())
            screen->grabWindow(0).save(stem + "-screen.png");
    }

    QMessageBox::StandardButton answer_;
    std::function<void(const Seen&)> whenSeen_;
    QTimer timer_;
    std::vector<Seen> seen_;
};
