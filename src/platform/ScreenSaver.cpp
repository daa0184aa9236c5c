#include "platform/ScreenSaver.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QString>

#include <cstdint>
#include <optional>

namespace {

const char* const Service = "org.freedesktop.ScreenSaver";
const char* const Path = "/org/freedesktop/ScreenSaver";
const char* const Interface = "org.freedesktop.ScreenSaver";
// A desktop that does not answer within this must not hold up the series.
constexpr int CallTimeoutMs = 1000;

std::optional<std::uint32_t> InhibitCookie;

} // namespace

void SetScreenSaverActive(bool active) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    if (!active) {
        if (InhibitCookie)
            return;
        QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, "Inhibit");
        call << QCoreApplication::applicationName() << QString("Тестирование графической системы");
        const QDBusReply<std::uint32_t> reply = bus.call(call, QDBus::Block, CallTimeoutMs);
        if (reply.isValid())
            InhibitCookie = reply.value();
        return;
    }
    if (!InhibitCookie)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, "UnInhibit");
    call << *InhibitCookie;
    InhibitCookie.reset();
    bus.call(call, QDBus::Block, CallTimeoutMs);
}
