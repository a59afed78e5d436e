#include <gtest/gtest.h>

#include <sstream>

#include "ScratchStateHome.hpp"
#include "Sysextctl.hpp"

namespace sysext {
namespace {

using testing::ScratchStateHome;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun sysextctl(std::vector<std::string> arguments) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runSysextctl(arguments, out, err);
    return ToolRun{status, out.str(), err.str()};
}

class Sysextctl : public ::testing::Test {
  protected:
    ScratchStateHome home;
};

TEST_F(Sysextctl, ListShowsEveryVersionWithItsState) {
    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) {
        s.extensions["com.a.one"].live = LiveExtension{{"1.0.0", "1"}, LiveState::activatedEnabled};
        s.extensions["com.a.two"].live =
            LiveExtension{{"2.0", "3"}, LiveState::activatedWaitingForUser};
        s.extensions["com.a.two"].uninstallingOnReboot = BundleVersion{"1.5", "2"};
    }));
    const ToolRun run = sysextctl({"list"});
    EXPECT_EQ(run.status, exitSuccess);
    EXPECT_EQ(run.out,
              "com.a.one 1.0.0 (1) [activated enabled]\n"
              "com.a.two 2.0 (3) [activated waiting for user]\n"
              "com.a.two 1.5 (2) [terminated waiting to uninstall on reboot]\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(Sysextctl, VerbsChangeTheState) {
    EXPECT_EQ(sysextctl({"policy", "com.a.b", "deny"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"busy", "com.a.b", "on"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"release", "12.7.6"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"developer", "on"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"approve", "com.a.b"}).status, exitSuccess);
    auto state = home.store().read();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->policies.at("com.a.b"), Policy::deny);
    EXPECT_TRUE(state->busy.contains("com.a.b"));
    EXPECT_TRUE(state->approved.contains("com.a.b"));
    EXPECT_EQ(state->release, (Release{12, 7, 6}));
    EXPECT_TRUE(state->developerMode);
    EXPECT_EQ(sysextctl({"release"}).out, "12.7.6\n");
    EXPECT_EQ(sysextctl({"developer"}).out, "on\n");

    EXPECT_EQ(sysextctl({"policy", "com.a.b", "allow"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"busy", "com.a.b", "off"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"reset"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"release"}).out, "14.0.0\n");
}

TEST_F(Sysextctl, ApproveBringsAWaitingExtensionIntoService) {
    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) {
        s.extensions["com.a.b"].live =
            LiveExtension{{"1.0", "1"}, LiveState::activatedWaitingForUser};
    }));
    ASSERT_EQ(sysextctl({"approve", "com.a.b"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"list"}).out, "com.a.b 1.0 (1) [activated enabled]\n");
}

TEST_F(Sysextctl, RebootCarriesOutWhatWaitsForIt) {
    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) {
        s.extensions["com.a.b"].live =
            LiveExtension{{"2.0", "1"}, LiveState::activatedWaitingForReboot};
        s.extensions["com.a.b"].uninstallingOnReboot = BundleVersion{"1.0", "1"};
        s.busy.insert("com.a.b");
    }));
    ASSERT_EQ(sysextctl({"reboot"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"list"}).out, "com.a.b 2.0 (1) [activated enabled]\n");
}

class SysextctlBadInput : public ::testing::TestWithParam<std::vector<std::string>> {
  protected:
    ScratchStateHome home;
};

TEST_P(SysextctlBadInput, IsRefusedWithAMessageAndTheStateStaysByteForByte) {
    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) {
        s.approved.insert("com.a.b");
        s.release = Release{13, 1, 0};
    }));
    const std::string before = home.stateBytes();
    const ToolRun run = sysextctl(GetParam());
    EXPECT_EQ(run.status, exitUsage);
    EXPECT_EQ(run.err.rfind("sysextctl: ", 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(home.stateBytes(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SysextctlBadInput,
    ::testing::Values(
        std::vector<std::string>{}, std::vector<std::string>{"frob"},
        std::vector<std::string>{"LIST"}, std::vector<std::string>{"list", "extra"},
        std::vector<std::string>{"approve"}, std::vector<std::string>{"approve", "nodots"},
        std::vector<std::string>{"approve", "com..b"},
        std::vector<std::string>{"approve", "com.a.b/../x"},
        std::vector<std::string>{"approve", "com.a.b", "com.c.d"},
        std::vector<std::string>{"policy", "com.a.b"},
        std::vector<std::string>{"policy", "com.a.b", "maybe"},
        std::vector<std::string>{"busy", "com.a.b", "yes"},
        std::vector<std::string>{"release", "14"}, std::vector<std::string>{"release", "14.0.0.1"},
        std::vector<std::string>{"release", "a.b.c"}, std::vector<std::string>{"release", "-1.0.0"},
        std::vector<std::string>{"developer", "ON"}, std::vector<std::string>{"reboot", "now"},
        std::vector<std::string>{"reset", "all"}));

TEST_F(Sysextctl, ADamagedStateIsReportedAndLeftAsItIsExceptByReset) {
    const std::string damaged = "veltrin-sysext-state 1\nrelease 14.0.0\n";
    home.writeStateBytes(damaged);
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"list"}, {"approve", "com.a.b"}, {"release"}, {"release", "13.0.0"}, {"reboot"}}) {
        const ToolRun run = sysextctl(arguments);
        EXPECT_EQ(run.status, exitStateProblem) << arguments[0];
        EXPECT_NE(run.err.find("sysextctl reset"), std::string::npos) << run.err;
        EXPECT_EQ(home.stateBytes(), damaged);
    }
    EXPECT_EQ(sysextctl({"reset"}).status, exitSuccess);
    EXPECT_EQ(sysextctl({"list"}).status, exitSuccess);
}

}  // namespace
}  // namespace sysext
