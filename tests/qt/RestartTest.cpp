// With no system bus at all the restart request fails at once and the launcher
// goes on: nothing to wait for, nothing that could block the main thread. (What
// reaches logind on a bus is checked end to end against a recording stand-in.)
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <cstdlib>

#include "platform/Host.hpp"

namespace {

// A hang here is caught by the test's time limit.
TEST(RestartRequest, WithoutASystemBusReturnsAndGoesNowhere) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    platform::requestRestart();
    platform::requestRestart();
    EXPECT_FALSE(QDBusConnection::systemBus().isConnected());
}

}  // namespace
