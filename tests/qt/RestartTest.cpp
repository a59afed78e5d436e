// The restart request as it leaves the process. Every case here points the
// system bus at a private dbus-daemon or at a path where nothing listens; the
// machine's own bus is never reached.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <optional>

#include "platform/Host.hpp"

namespace {

// Plays logind on the private bus: records the calls made to its object.
class LogindRecorder final : public QDBusVirtualObject {
  public:
    QString introspect(const QString& /*path*/) const override { return {}; }
    bool handleMessage(const QDBusMessage& message,
                       const QDBusConnection& /*connection*/) override {
        received = message;
        return true;
    }
    std::optional<QDBusMessage> received;
};

class PrivateSystemBus {
  public:
    PrivateSystemBus() {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1"),
                              QStringLiteral("--address=unix:dir=") + directory_.path()});
        daemon_.start();
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;
    ~PrivateSystemBus() {
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }

    const QString& address() const { return address_; }

  private:
    QTemporaryDir directory_;
    QProcess daemon_;
    QString address_;
};

// QDBusConnection reads the system bus address once per process; ctest runs
// each case in a process of its own.
TEST(RestartRequest, ReachesLogindAsAnInteractiveRebootOnTheSystemBus) {
    const PrivateSystemBus bus;
    ASSERT_TRUE(bus.address().startsWith(QStringLiteral("unix:")))
        << "no private dbus-daemon, so the restart request is not sent anywhere";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8().constData(), 1);

    QDBusConnection logindSide =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("logind-recorder"));
    ASSERT_TRUE(logindSide.isConnected());
    ASSERT_TRUE(logindSide.registerService(QStringLiteral("org.freedesktop.login1")));
    LogindRecorder logind;
    ASSERT_TRUE(
        logindSide.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind));

    platform::requestRestart();
    const QDeadlineTimer deadline(10000);
    while (!logind.received && !deadline.hasExpired()) {
        QTest::qWait(10);
    }
    ASSERT_TRUE(logind.received);
    const QDBusMessage& call = *logind.received;
    EXPECT_EQ(call.type(), QDBusMessage::MethodCallMessage);
    EXPECT_EQ(call.interface(), QStringLiteral("org.freedesktop.login1.Manager"));
    EXPECT_EQ(call.member(), QStringLiteral("Reboot"));
    ASSERT_EQ(call.arguments().size(), 1);
    EXPECT_EQ(call.arguments().at(0), QVariant(true));
    EXPECT_TRUE(call.isInteractiveAuthorizationAllowed());
    QDBusConnection::disconnectFromBus(QStringLiteral("logind-recorder"));
}

// A hang here is caught by the test's time limit.
TEST(RestartRequest, WithoutASystemBusReturnsAndGoesNowhere) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    platform::requestRestart();
    platform::requestRestart();
    EXPECT_FALSE(QDBusConnection::systemBus().isConnected());
}

}  // namespace
