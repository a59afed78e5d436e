#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "ScratchStateHome.hpp"

namespace sysext {
namespace {

struct Exit {
    int status;
    std::string out;
    std::string err;
};

// The built tool, with the scratch state in its environment.
Exit runTool(const testing::ScratchStateHome& home, const std::string& arguments) {
    const auto out = home.root() / "tool.out";
    const auto err = home.root() / "tool.err";
    const std::string command = std::string("'") + SYSEXTCTL_PATH + "' " + arguments + " >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    return Exit{WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::readFileBytes(out),
                testing::readFileBytes(err)};
}

TEST(SysextctlTool, ApprovesListsAndRefusesBadInputWithoutTouchingTheState) {
    testing::ScratchStateHome home;
    EXPECT_EQ(runTool(home, "policy com.example.driver deny").status, 0);
    const std::string before = home.stateBytes();
    ASSERT_FALSE(before.empty());

    for (const char* bad : {"", "frobnicate", "approve", "approve 'not an id'", "release 13",
                            "busy com.example.driver sometimes"}) {
        const Exit exit = runTool(home, bad);
        EXPECT_NE(exit.status, 0) << bad;
        EXPECT_NE(exit.err.find("sysextctl: "), std::string::npos) << bad;
        EXPECT_EQ(home.stateBytes(), before) << bad;
    }

    home.writeStateBytes(
        std::string("\x7f"
                    "ELF\x02\x01\x01\0\0\0",
                    10));
    const Exit corrupt = runTool(home, "list");
    EXPECT_EQ(corrupt.status, 1);
    EXPECT_NE(corrupt.err.find(home.paths().stateFile().string()), std::string::npos);
    EXPECT_EQ(home.stateBytes(), std::string("\x7f"
                                             "ELF\x02\x01\x01\0\0\0",
                                             10));
}

}  // namespace
}  // namespace sysext
