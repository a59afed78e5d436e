// The activity log failing under the launcher while it runs: a full disk, the
// file replaced, frozen or deleted after the first lines, and a large file from
// earlier runs. Every other sink must go on exactly as with a healthy log, and
// what the file already held must stay as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "LauncherTest.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

namespace {

namespace fs = std::filesystem;

// Makes the file unwritable in a way that also holds for root, which ignores
// permission bits. The reason it could not, or nothing.
std::optional<std::string> freeze(const std::string& path) {
    if (::geteuid() != 0) {
        return ::chmod(path.c_str(), 0444) == 0 ? std::nullopt
                                                : std::optional<std::string>("chmod failed");
    }
    if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0) {
        return "running as root and `chattr +i` is not available on this filesystem, so no "
               "file can be made unwritable";
    }
    const int probe = ::open(path.c_str(), O_WRONLY | O_APPEND);
    if (probe >= 0) {
        ::close(probe);
        return "`chattr +i` did not make the file unwritable for root";
    }
    return std::nullopt;
}

void thaw(const std::string& path) {
    if (::geteuid() == 0) {
        std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    }
}

class ActivityLogFaultTest : public LauncherTest {
  protected:
    // -install with an approval at 1 s and a completion at 5 s. `fault` runs once
    // the launch has written its two lines, before any answer arrives.
    void runInstall(const std::function<void()>& fault) {
        fake.launch({"-install"});
        fault();
        fake.answerNeedsApproval(0);
        fake.runUntil(5.0);
        fake.answerFinished(0, 0);
        fake.runUntilNoTasksRemain();
    }

    // The whole trace of that run; `launchLines` says whether the launch's two
    // lines reached the file before the fault.
    fake::Trace expectedTrace(bool launchLines) {
        const void* app = appAddress();
        fake::Trace trace = supportedLaunchStart();
        const auto written = [&](int second, const std::string& text) {
            if (launchLines) {
                trace.push_back(fake::ActivityLog(second, line(second, text)));
            }
        };
        trace.push_back(fake::Log(0, "Start:installing driver\n"));
        written(0, "Start:installing driver\n");
        trace.push_back(fake::Status(0, "installing driver"));
        trace.push_back(
            fake::Submit(1, platform::RequestKind::activation, dext(), app, queueAddress()));
        trace.push_back(fake::Log(1, "Info:Command arguments="));
        written(1, "Info:Command arguments=");
        return concat(
            {trace,
             {
                 fake::Stdout(1, "[\"" + programPath() + "\", \"-install\"]\n"),
                 fake::Scheduled(1, 1, 5.0, app),
                 fake::Log(1, "Info:System Extension %@ requires user approval", {dext()}),
                 fake::Status(1, "Extension " + dext() + " requires user approval"),
                 fake::Invalidated(1, 1),
                 fake::Log(5,
                           "Success:System extension operation successful. Please restart your "
                           "computer."),
                 fake::Status(5,
                              "Success:System extension operation successful. Please restart your "
                              "computer."),
                 fake::Scheduled(6, 2, 5.0, app),
                 fake::Fired(11, 2),
                 fake::Terminate(11, app),
             }});
    }

    std::string launchBytes() const {
        return line(0, "Start:installing driver\n") + line(1, "Info:Command arguments=");
    }
};

TEST_F(ActivityLogFaultTest, FullDiskTakesNothingAndTheRunGoesOn) {
    ASSERT_EQ(::symlink("/dev/full", fake.activityLogPath().c_str()), 0);
    runInstall([] {});
    EXPECT_EQ(fake.trace(), expectedTrace(false));
    EXPECT_TRUE(fake.ended());
    EXPECT_TRUE(fs::is_symlink(fake.activityLogPath()));
}

TEST_F(ActivityLogFaultTest, FileTurnedIntoADirectoryMidRun) {
    fake.createActivityLog();
    runInstall([&] {
        fs::remove(fake.activityLogPath());
        fs::create_directory(fake.activityLogPath());
    });
    EXPECT_EQ(fake.trace(), expectedTrace(true));
    EXPECT_TRUE(fake.ended());
    EXPECT_TRUE(fs::is_empty(fake.activityLogPath()));
}

TEST_F(ActivityLogFaultTest, FileMadeUnwritableMidRunKeepsItsLines) {
    fake.createActivityLog();
    const std::string path = fake.activityLogPath();
    std::optional<std::string> skip;
    runInstall([&] { skip = freeze(path); });
    const auto bytes = fake.activityLogBytes();
    thaw(path);
    if (skip) {
        GTEST_SKIP() << *skip;
    }
    EXPECT_EQ(fake.trace(), expectedTrace(true));
    EXPECT_TRUE(fake.ended());
    EXPECT_EQ(bytes, launchBytes());
}

TEST_F(ActivityLogFaultTest, FileDeletedMidRunIsNotCreatedAgain) {
    fake.createActivityLog();
    runInstall([&] { fs::remove(fake.activityLogPath()); });
    EXPECT_EQ(fake.trace(), expectedTrace(true));
    EXPECT_TRUE(fake.ended());
    EXPECT_TRUE(fs::is_empty(fake.home()));
}

TEST_F(ActivityLogFaultTest, LargeFileGetsTheLineAppendedInPlace) {
    const std::string row = line(0, "Info:" + std::string(200, 'e'));
    std::string earlier;
    earlier.reserve(4 * 1024 * 1024 + row.size());
    while (earlier.size() < 4 * 1024 * 1024) {
        earlier += row;
    }
    earlier += "half a line";  // an earlier run cut short
    fake.createActivityLog(earlier);
    const std::string path = fake.activityLogPath();
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    launcher::logFileURL = launcher::FileURL::fileURLWithPath(path);
    launcher::writeLog("Success:done");

    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced, not appended to";
    const std::string appended = "05/12/2026 07:41:39:Success:done\r\n";
    ASSERT_EQ(static_cast<std::size_t>(after.st_size), earlier.size() + appended.size());
    std::string bytes(static_cast<std::size_t>(after.st_size), '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), after.st_size);
    EXPECT_TRUE(bytes.compare(0, earlier.size(), earlier) == 0) << "earlier bytes changed";
    EXPECT_EQ(bytes.substr(earlier.size()), appended);
}

}  // namespace
