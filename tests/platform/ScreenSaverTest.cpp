// The screen-saver request on a real session bus of the test's own (a private dbus-daemon),
// with the desktop's service played by this test program run once more.
#include "platform/ScreenSaver.h"

#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// The desktop's screen-saver service: notes each call as a line of the log file.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    explicit FakeScreenSaver(QString logName) : log_(std::move(logName)) {}
public slots:
    uint Inhibit(const QString& application, const QString& reason) {
        Note("Inhibit " + application + " / " + reason);
        return 4711;
    }
    void UnInhibit(uint cookie) { Note("UnInhibit " + QString::number(cookie)); }
    void Quit() { QCoreApplication::quit(); }

private:
    void Note(const QString& line) {
        QFile file(log_);
        if (file.open(QIODevice::Append))
            file.write((line + "\n").toUtf8());
    }
    QString log_;
};

TEST(ScreenSaver, DISABLED_Service) {
    const char* log = std::getenv("STENDO_SCREENSAVER_LOG");
    ASSERT_NE(log, nullptr);
    FakeScreenSaver service{QString::fromLocal8Bit(log)};
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/ScreenSaver", &service,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.ScreenSaver"));
    QCoreApplication::exec();
}

class PrivateSessionBus : public testing::Test {
protected:
    void SetUp() override {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(daemon_.waitForReadyRead(10000)) << "dbus-daemon did not start";
        address_ = daemon_.readLine().trimmed();
        ASSERT_FALSE(address_.isEmpty());
        // Read by the session bus connection when it is first made, which is in this test.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_);
    }
    void TearDown() override {
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }

    QProcess daemon_;
    QByteArray address_;
};

TEST_F(PrivateSessionBus, InhibitedOnceAndReleasedWithTheSameCookie) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());

    // Without the service: nothing happens, and nothing waits for an answer that never comes.
    QElapsedTimer clock;
    clock.start();
    SetScreenSaverActive(false);
    SetScreenSaverActive(true);
    EXPECT_LT(clock.elapsed(), 900);

    TempDir dir;
    const QString log = QString::fromStdString((dir / "calls.log").string());
    QProcess service;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("STENDO_SCREENSAVER_LOG", log);
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(address_));
    service.setProcessEnvironment(env);
    service.setProcessChannelMode(QProcess::ForwardedChannels);
    service.start(
        QCoreApplication::applicationFilePath(),
        {"--gtest_filter=ScreenSaver.DISABLED_Service", "--gtest_also_run_disabled_tests"});
    clock.restart();
    while (!bus.interface()->isServiceRegistered("org.freedesktop.ScreenSaver") &&
           clock.elapsed() < 30000)
        QThread::msleep(20);
    ASSERT_TRUE(bus.interface()->isServiceRegistered("org.freedesktop.ScreenSaver"));

    SetScreenSaverActive(false);
    SetScreenSaverActive(false); // already held: no second request
    SetScreenSaverActive(true);
    SetScreenSaverActive(true); // already released: nothing

    bus.call(QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver",
                                            "/org/freedesktop/ScreenSaver",
                                            "org.freedesktop.ScreenSaver", "Quit"));
    ASSERT_TRUE(service.waitForFinished(30000));
    EXPECT_EQ(service.exitCode(), 0);

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList calls = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(calls.size(), 2) << calls.join(" | ").toStdString();
    EXPECT_TRUE(calls[0].startsWith("Inhibit ")) << calls[0].toStdString();
    EXPECT_EQ(calls[1], "UnInhibit 4711");
}

} // namespace

#include "ScreenSaverTest.moc"
