#include "E2eTest.hpp"

#include <csignal>

#include <stdlib.h>

#include <cstdio>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

std::filesystem::path E2eTest::suiteRoot_;
std::unique_ptr<PrivateBus> E2eTest::bus_;

namespace {

// Anything that could lead a child to the user's display, session, home or the
// machine's real system bus stays behind.
const std::regex droppedVariables(
    "DISPLAY|WAYLAND_DISPLAY|DBUS_.*|HOME|XAUTHORITY|SESSION_MANAGER|DESKTOP_SESSION|XDG_.*|QT_.*");

// The scratch directories a run's XDG variables point at.
const std::pair<const char*, const char*> xdgDirectories[] = {{"XDG_STATE_HOME", "state"},
                                                              {"XDG_CONFIG_HOME", "config"},
                                                              {"XDG_CACHE_HOME", "cache"},
                                                              {"XDG_DATA_HOME", "data"},
                                                              {"XDG_RUNTIME_DIR", "runtime"}};

}  // namespace

std::filesystem::path makeScratchDirectory(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string argumentReport(const std::vector<std::string>& flags) {
    std::string line = "[\"" + launcherPath + "\"";
    for (const std::string& flag : flags) {
        line += ", \"" + flag + "\"";
    }
    return line + "]\n";
}

std::vector<std::string> logTexts(const std::filesystem::path& log, std::time_t from,
                                  std::time_t to) {
    const std::string bytes = readFile(log);
    static const std::regex line(R"((\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d):([\s\S]*?)\r\n)");
    std::vector<std::string> found;
    std::size_t start = 0;
    for (std::sregex_iterator it(bytes.begin(), bytes.end(), line), end;
         it != end && static_cast<std::size_t>(it->position()) == start; ++it) {
        const std::smatch& parts = *it;
        std::tm when{};
        when.tm_isdst = -1;
        int* const fields[] = {&when.tm_mday, &when.tm_mon, &when.tm_year,
                               &when.tm_hour, &when.tm_min, &when.tm_sec};
        for (std::size_t i = 0; i < 6; ++i) {
            *fields[i] = std::stoi(parts[i + 1]);
        }
        when.tm_mon -= 1;
        when.tm_year -= 1900;
        const std::time_t stamped = std::mktime(&when);
        EXPECT_GE(stamped, from - 1) << parts[0];
        EXPECT_LE(stamped, to + 1) << parts[0];
        found.push_back(parts[7]);
        start += static_cast<std::size_t>(parts.length());
    }
    EXPECT_EQ(start, bytes.size())
        << "activity-log line without its stamp or CR LF: " << bytes.substr(start);
    return found;
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
    std::error_code ignored;
    std::filesystem::remove_all(suiteRoot_, ignored);
}

void E2eTest::SetUp() {
    root_ = makeScratchDirectory("veltrin-e2e");
    ASSERT_FALSE(root_.empty());
    ASSERT_TRUE(bus_) << "no private system bus";
    std::filesystem::create_directory(home());
    for (const auto& [variable, sub] : xdgDirectories) {
        std::filesystem::create_directory(root_ / sub);
    }
    std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all);
}

// GNUstep starts gdnc by itself; the one a case's launchers started knows the
// case's configuration file and ends with the case, by its own process id.
void endGdncOf(const std::filesystem::path& configuration) {
    const std::string mark = "GNUSTEP_CONFIG_FILE=" + configuration.string();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            readFile(entry.path() / "comm") != "gdnc\n") {
            continue;
        }
        const std::string environment = readFile(entry.path() / "environ");
        if (environment.find(mark + '\0') != std::string::npos) {
            ::kill(std::stoi(pid), SIGTERM);
        }
    }
}

void E2eTest::TearDown() {
    if (std::getenv("VELTRIN_E2E_DISPLAY") != nullptr) {
        endGdncOf(root_ / "GNUstep.conf");
    }
    if (HasFailure() || std::getenv("VELTRIN_E2E_KEEP")) {
        std::cerr << "scratch directory kept, with every child's standard error: " << root_ << '\n';
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
        if (equals != std::string::npos &&
            !std::regex_match(text.substr(0, equals), droppedVariables)) {
            env[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    env["HOME"] = home().string();
    for (const auto& [variable, sub] : xdgDirectories) {
        env[variable] = (root_ / sub).string();
    }
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["DBUS_SYSTEM_BUS_ADDRESS"] = bus_->address();
    if (const char* display = std::getenv("VELTRIN_E2E_DISPLAY")) {
        // GNUstep keeps its defaults under the password database's home unless told.
        env["DISPLAY"] = display;
        env["GNUSTEP_CONFIG_FILE"] = (root_ / "GNUstep.conf").string();
        std::ofstream(root_ / "GNUstep.conf")
            << "GNUSTEP_USER_DIR=" << (root_ / "gnustep").string() << "\n"
            << "GNUSTEP_USER_DEFAULTS_DIR=" << (root_ / "gnustep" / "Defaults").string() << "\n";
        // No window manager on the test display: GNUstep draws no frames of its own.
        std::filesystem::create_directories(root_ / "gnustep" / "Defaults");
        std::ofstream(root_ / "gnustep" / "Defaults" / "NSGlobalDomain.plist")
            << "{ GSX11HandlesWindowDecorations = NO; }\n";
    }
    return env;
}

std::unique_ptr<Child> E2eTest::launch(const std::vector<std::string>& flags,
                                       std::optional<Environment> env) {
    if (!env) {
        env = environment();
    }
    std::vector<std::string> argv{launcherPath};
    argv.insert(argv.end(), flags.begin(), flags.end());
    const std::string refusal = restartGuardViolation(argv, *env, bus_.get());
    if (!refusal.empty()) {
        ADD_FAILURE() << "refused to run the launcher: " << refusal;
        return nullptr;
    }
    return start(argv, *env, "launcher-" + std::to_string(++launches_));
}

std::unique_ptr<Child> E2eTest::start(const std::vector<std::string>& argv,
                                      const Environment& environment, const std::string& name) {
    std::string error;
    auto child = Child::spawn(argv, environment, (root_ / (name + ".stderr")).string(), error);
    EXPECT_TRUE(child) << error;
    return child;
}

std::string E2eTest::control(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VELTRIN_E2E_SYSEXTCTL};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = start(argv, environment(), "sysextctl");
    if (!child) {
        return {};
    }
    const ExitStatus status = child->finish(Seconds(20));
    EXPECT_TRUE(status.ok()) << "sysextctl " << args.at(0) << " failed (code " << status.code
                             << ", signal " << status.signal
                             << "): " << readFile(root_ / "sysextctl.stderr");
    return child->output();
}

std::optional<Clock::time_point> E2eTest::waitForLogText(const std::string& text, Seconds timeout,
                                                         const std::filesystem::path& log) const {
    const std::string wanted = ":" + text + "\r\n";
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    while (readFile(log.empty() ? logPath() : log).find(wanted) == std::string::npos) {
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Clock::now();
}

void E2eTest::expectLog(const std::vector<std::string>& texts, std::time_t from) const {
    EXPECT_EQ(logTexts(logPath(), from, std::time(nullptr)), texts);
}

void E2eTest::expectEndsAbout6sAfter(const ExitStatus& status, Clock::time_point from,
                                     const char* fromWhat) const {
    EXPECT_TRUE(status.ok()) << "code " << status.code << ", signal " << status.signal;
    const double after = secondsBetween(from, status.at);
    // Printed so that a drift shows in the logs long before it fails.
    std::printf("[ timing   ] exit %.3f s after %s\n", after, fromWhat);
    EXPECT_GE(after, 5.5) << "after " << fromWhat;
    EXPECT_LE(after, 8.0) << "after " << fromWhat;
}

}  // namespace e2e
