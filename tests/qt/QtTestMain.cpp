// One QApplication for the whole run, on the offscreen platform, and a system
// bus that cannot be the machine's: a restart request made by any test goes
// nowhere unless that test points the bus at a private daemon of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/Application.hpp"

// The window is tested without the launcher's logic; no test runs applicationMain.
std::unique_ptr<platform::ApplicationDelegate> platform::instantiateLayoutDelegate() {
    return nullptr;
}

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
