#include "E2eTest.hpp"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

std::filesystem::path E2eTest::suiteRoot_;
std::unique_ptr<PrivateBus> E2eTest::bus_;

namespace {

bool inheritedVariableKept(const std::string& name) {
    // Anything that could lead a child to the user's display, session, home or
    // the machine's real system bus stays behind.
    static const char* const dropped[] = {
        "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS",
        "HOME",    "XAUTHORITY",      "SESSION_MANAGER",          "DESKTOP_SESSION"};
    for (const char* drop : dropped) {
        if (name == drop) {
            return false;
        }
    }
    return name.rfind("XDG_", 0) != 0 && name.rfind("QT_", 0) != 0;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

std::filesystem::path makeScratchDirectory(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

std::string argumentReport(const std::vector<std::string>& flags) {
    std::string line = "[";
    std::vector<std::string> all{launcherPath};
    all.insert(all.end(), flags.begin(), flags.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
        line += i == 0 ? "\"" : ", \"";
        for (const char c : all[i]) {
            if (c == '"' || c == '\\') {
                line += '\\';
            }
            line += c;
        }
        line += '"';
    }
    return line + "]\n";
}

void E2eTest::SetUpTestSuite() {
    suiteRoot_ = makeScratchDirectory("veltrin-e2e-bus");
    ASSERT_FALSE(suiteRoot_.empty());
    std::string error;
    bus_ = PrivateBus::start(suiteRoot_.string(), error);
    ASSERT_TRUE(bus_) << error;
}

void E2eTest::TearDownTestSuite() {
    bus_.reset();
    if (!suiteRoot_.empty()) {
        std::filesystem::remove_all(suiteRoot_);
    }
}

void E2eTest::SetUp() {
    root_ = makeScratchDirectory("veltrin-e2e");
    ASSERT_FALSE(root_.empty());
    for (const char* sub : {"home", "state", "config", "cache", "data", "runtime"}) {
        std::filesystem::create_directory(root_ / sub);
    }
    std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all);
}

void E2eTest::TearDown() {
    if (HasFailure() || std::getenv("VELTRIN_E2E_KEEP")) {
        std::cerr << "scratch directory kept: " << root_ << '\n';
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

Environment E2eTest::environment() const {
    Environment env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos && inheritedVariableKept(text.substr(0, equals))) {
            env[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    env["HOME"] = home().string();
    env["XDG_STATE_HOME"] = (root_ / "state").string();
    env["XDG_CONFIG_HOME"] = (root_ / "config").string();
    env["XDG_CACHE_HOME"] = (root_ / "cache").string();
    env["XDG_DATA_HOME"] = (root_ / "data").string();
    env["XDG_RUNTIME_DIR"] = (root_ / "runtime").string();
    env["QT_QPA_PLATFORM"] = "offscreen";
    // Without the suite's bus, an address where nothing listens.
    env["DBUS_SYSTEM_BUS_ADDRESS"] =
        bus_ ? bus_->address() : "unix:path=" + (root_ / "no-bus-here").string();
    return env;
}

std::unique_ptr<Child> E2eTest::launch(const std::vector<std::string>& flags) {
    return launch(flags, environment());
}

std::unique_ptr<Child> E2eTest::launch(const std::vector<std::string>& flags,
                                       const Environment& env) {
    std::vector<std::string> argv{launcherPath};
    argv.insert(argv.end(), flags.begin(), flags.end());
    const std::string refusal = restartGuardViolation(argv, env, bus_.get());
    if (!refusal.empty()) {
        ADD_FAILURE() << "refused to run the launcher: " << refusal;
        return nullptr;
    }
    std::string error;
    const std::string stderrPath =
        (root_ / ("launcher-" + std::to_string(++launches_) + ".stderr")).string();
    auto child = Child::spawn(argv, env, stderrPath, error);
    if (!child) {
        ADD_FAILURE() << error;
    }
    return child;
}

ToolRun E2eTest::sysextctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{sysextctlPath};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string stderrPath = (root_ / "sysextctl.stderr").string();
    std::string error;
    auto child = Child::spawn(argv, environment(), stderrPath, error);
    if (!child) {
        ADD_FAILURE() << error;
        return {};
    }
    ToolRun run;
    run.status = child->finish(Seconds(15));
    run.out = child->output();
    run.err = readFile(stderrPath);
    return run;
}

std::string E2eTest::control(const std::vector<std::string>& args) {
    const ToolRun run = sysextctl(args);
    std::string command = "sysextctl";
    for (const std::string& arg : args) {
        command += " " + arg;
    }
    EXPECT_TRUE(run.status.exited && run.status.code == 0)
        << command << " failed (code " << run.status.code << ", signal " << run.status.signal
        << "): " << run.err;
    return run.out;
}

void E2eTest::createEmptyLog() const {
    std::ofstream(logPath(), std::ios::binary);
}

std::string E2eTest::readLog() const {
    return readFile(logPath());
}

std::optional<Clock::time_point> E2eTest::waitForLogText(const std::string& text,
                                                         Seconds timeout) const {
    const std::string wanted = ":" + text + "\r\n";
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    for (;;) {
        if (readLog().find(wanted) != std::string::npos) {
            return Clock::now();
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void E2eTest::expectLog(const std::vector<std::string>& texts, std::time_t from,
                        std::time_t to) const {
    EXPECT_EQ(logTexts(from, to), texts);
}

std::vector<std::string> E2eTest::logTexts(std::time_t from, std::time_t to) const {
    const std::string bytes = readLog();
    static const std::regex stamp(R"(^(\d{2})/(\d{2})/(\d{4}) (\d{2}):(\d{2}):(\d{2}):)");
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "activity log ends without CR LF: " << bytes.substr(start);
            break;
        }
        const std::string line = bytes.substr(start, end - start);
        start = end + 2;
        std::smatch parts;
        if (!std::regex_search(line, parts, stamp)) {
            ADD_FAILURE() << "activity-log line without its stamp: " << line;
            continue;
        }
        std::tm when{};
        when.tm_mday = std::stoi(parts[1]);
        when.tm_mon = std::stoi(parts[2]) - 1;
        when.tm_year = std::stoi(parts[3]) - 1900;
        when.tm_hour = std::stoi(parts[4]);
        when.tm_min = std::stoi(parts[5]);
        when.tm_sec = std::stoi(parts[6]);
        when.tm_isdst = -1;
        const std::time_t stamped = std::mktime(&when);
        EXPECT_GE(stamped, from - 1) << line;
        EXPECT_LE(stamped, to + 1) << line;
        found.push_back(line.substr(20));
    }
    return found;
}

void E2eTest::expectEndsAbout6sAfter(const ExitStatus& status, Clock::time_point from,
                                     const char* fromWhat) const {
    EXPECT_FALSE(status.killedByHarness);
    EXPECT_TRUE(status.exited) << "signal " << status.signal;
    EXPECT_EQ(status.code, 0);
    const double after = secondsBetween(from, status.at);
    // Printed so that a drift shows in the logs long before it fails.
    std::printf("[ timing   ] exit %.3f s after %s\n", after, fromWhat);
    EXPECT_GE(after, 5.5) << "after " << fromWhat;
    EXPECT_LE(after, 8.0) << "after " << fromWhat;
}

void E2eTest::showStderr(const std::string& name) const {
    std::cerr << "---- " << name << " standard error ----\n";
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
        if (entry.path().extension() == ".stderr") {
            std::cerr << entry.path().filename() << ":\n" << readFile(entry.path());
        }
    }
}

bool stillRunningAfter(Child& child, Seconds sinceStart) {
    const Seconds left = sinceStart - Seconds(Clock::now() - child.started());
    return !child.waitForExit(left > Seconds(0) ? left : Seconds(0)).has_value();
}

}  // namespace e2e
