// The harness's promise that a case which may ask for a restart reaches only the
// recorder: if this guard lets a wrong bus through, a test could restart the
// machine it runs on.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "PrivateBus.hpp"

namespace e2e {
namespace {

class RestartGuard : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/veltrin-e2e-guard-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        std::string error;
        bus_ = PrivateBus::start(directory_, error);
        ASSERT_TRUE(bus_) << error;
    }
    static void TearDownTestSuite() {
        bus_.reset();
        std::filesystem::remove_all(directory_);
    }

    static Environment pointedAt(const std::string& address) {
        return {{"DBUS_SYSTEM_BUS_ADDRESS", address}};
    }

    static inline std::string directory_;
    static inline std::unique_ptr<PrivateBus> bus_;
};

TEST_F(RestartGuard, RefusesARestartCapableRunOffThePrivateBus) {
    const std::vector<std::string> argv{"/launcher", "-installInteractive"};
    EXPECT_NE(restartGuardViolation(argv, {}, bus_.get()), "");
    EXPECT_NE(
        restartGuardViolation(argv, pointedAt("unix:path=/run/dbus/system_bus_socket"), bus_.get()),
        "");
    EXPECT_NE(restartGuardViolation(argv, pointedAt(bus_->address()), nullptr), "");
    // A flag that loses to -install still counts: the guard does not second-guess
    // the launcher's own choice of mode.
    EXPECT_NE(restartGuardViolation({"/launcher", "-install", "-installInteractive"},
                                    pointedAt("unix:path=/nowhere"), bus_.get()),
              "");
}

TEST_F(RestartGuard, AcceptsThePrivateBusWithTheStandInConfirmed) {
    EXPECT_EQ(restartGuardViolation({"/launcher", "-installInteractive"},
                                    pointedAt(bus_->address()), bus_.get()),
              "");
    EXPECT_EQ(restartGuardViolation({"/launcher", "-install"}, {}, nullptr), "");
    EXPECT_EQ(restartGuardViolation({"/launcher"}, {}, nullptr), "");
}

TEST_F(RestartGuard, TheStandInRecordsEachRebootCall) {
    const std::string sendPath = findProgram("dbus-send");
    ASSERT_NE(sendPath, "");
    for (const char* interactive : {"boolean:true", "boolean:false"}) {
        std::string error;
        auto call = Child::spawn(
            {sendPath, "--bus=" + bus_->address(), "--print-reply", "--dest=org.freedesktop.login1",
             "/org/freedesktop/login1", "org.freedesktop.login1.Manager.Reboot", interactive},
            {}, directory_ + "/reboot-call.stderr", error);
        ASSERT_TRUE(call) << error;
        const ExitStatus status = call->finish(Seconds(10));
        ASSERT_TRUE(status.exited && status.code == 0);
    }
    EXPECT_EQ(bus_->recordedCalls(),
              (std::vector<std::string>{"Reboot interactive=true authorization=not-allowed",
                                        "Reboot interactive=false authorization=not-allowed"}));
}

}  // namespace
}  // namespace e2e
