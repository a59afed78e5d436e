#include "PrivateBus.hpp"

#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

constexpr const char* logindName = "org.freedesktop.login1";

Environment toolEnvironment() {
    const char* path = std::getenv("PATH");
    return {{"PATH", path ? path : "/usr/bin:/bin"}};
}

std::string trimLineFeed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream directories(path ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        const std::string candidate = directory + "/" + name;
        if (!directory.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::unique_ptr<PrivateBus> PrivateBus::start(const std::string& directory, std::string& error) {
    std::unique_ptr<PrivateBus> bus(new PrivateBus);
    bus->directory_ = directory;
    bus->recordPath_ = directory + "/reboot-calls.txt";

    const std::string daemonPath = findProgram("dbus-daemon");
    if (daemonPath.empty()) {
        error = "dbus-daemon is not installed (Debian package dbus-daemon)";
        return nullptr;
    }
    const std::string configPath = directory + "/bus.conf";
    {
        // Everyone may do everything: the only clients are the tests' own.
        std::ofstream config(configPath);
        config << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                  "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig>\n"
                  "  <type>veltrin-e2e-system</type>\n"
                  "  <listen>unix:path="
               << directory
               << "/system_bus_socket</listen>\n"
                  "  <auth>EXTERNAL</auth>\n"
                  "  <policy context=\"default\">\n"
                  "    <allow user=\"*\"/>\n"
                  "    <allow own=\"*\"/>\n"
                  "    <allow send_destination=\"*\"/>\n"
                  "    <allow receive_sender=\"*\"/>\n"
                  "  </policy>\n"
                  "</busconfig>\n";
    }
    bus->daemon_ = Child::spawn(
        {daemonPath, "--config-file=" + configPath, "--print-address", "--nofork", "--nopidfile"},
        toolEnvironment(), directory + "/dbus-daemon.stderr", error);
    if (!bus->daemon_) {
        return nullptr;
    }
    // The address is the first line it prints.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        const auto lines = bus->daemon_->lines();
        if (!lines.empty()) {
            bus->address_ = trimLineFeed(lines.front().text);
            break;
        }
        if (bus->daemon_->waitForExit(Seconds(0.02))) {
            break;
        }
    }
    if (bus->address_.empty()) {
        error = "dbus-daemon printed no address";
        return nullptr;
    }

    bus->recorder_ = Child::spawn({VELTRIN_E2E_LOGIND_RECORDER, bus->address_, bus->recordPath_},
                                  toolEnvironment(), directory + "/logind-recorder.stderr", error);
    if (!bus->recorder_) {
        return nullptr;
    }
    const auto readyDeadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < readyDeadline && bus->recorderName_.empty()) {
        for (const OutputLine& line : bus->recorder_->lines()) {
            if (line.text.rfind("ready ", 0) == 0) {
                bus->recorderName_ = trimLineFeed(line.text.substr(6));
            }
        }
        if (bus->recorderName_.empty() && bus->recorder_->waitForExit(Seconds(0.02))) {
            break;
        }
    }
    if (bus->recorderName_.empty()) {
        error = "the logind stand-in did not claim its name on the private bus";
        return nullptr;
    }
    return bus;
}

PrivateBus::~PrivateBus() {
    if (recorder_) {
        recorder_->sendSignal(SIGTERM);
        recorder_->finish(Seconds(5));
    }
    if (daemon_) {
        daemon_->sendSignal(SIGTERM);
        daemon_->finish(Seconds(5));
    }
}

std::vector<std::string> PrivateBus::recordedCalls() const {
    std::vector<std::string> calls;
    std::ifstream record(recordPath_);
    std::string line;
    while (std::getline(record, line)) {
        calls.push_back(line);
    }
    return calls;
}

std::string PrivateBus::confirmLogindStandIn() const {
    if (!daemon_ || daemon_->waitForExit(Seconds(0))) {
        return "the private dbus-daemon is not running";
    }
    if (!recorder_ || recorder_->waitForExit(Seconds(0))) {
        return "the logind stand-in is not running";
    }
    const std::string sendPath = findProgram("dbus-send");
    if (sendPath.empty()) {
        return "dbus-send is not installed (Debian package dbus-bin)";
    }
    std::string error;
    auto query =
        Child::spawn({sendPath, "--bus=" + address_, "--print-reply", "--dest=org.freedesktop.DBus",
                      "/org/freedesktop/DBus", "org.freedesktop.DBus.GetNameOwner",
                      std::string("string:") + logindName},
                     toolEnvironment(), directory_ + "/dbus-send.stderr", error);
    if (!query) {
        return error;
    }
    const ExitStatus status = query->finish(Seconds(10));
    if (!status.exited || status.code != 0) {
        return std::string("nobody owns ") + logindName + " on the private bus";
    }
    const std::string expected = "string \"" + recorderName_ + "\"";
    if (query->output().find(expected) == std::string::npos) {
        return std::string(logindName) +
               " on the private bus is not the stand-in: " + query->output();
    }
    return {};
}

std::string restartGuardViolation(const std::vector<std::string>& argv,
                                  const Environment& environment, const PrivateBus* bus) {
    // Conservative on purpose: any mention of the flag counts, whatever wins.
    const bool mayRestart =
        std::find(argv.begin(), argv.end(), "-installInteractive") != argv.end();
    if (!mayRestart) {
        return {};
    }
    if (bus == nullptr) {
        return "a run that may restart the machine needs the private system bus";
    }
    const auto address = environment.find("DBUS_SYSTEM_BUS_ADDRESS");
    if (address == environment.end() || address->second != bus->address()) {
        return "DBUS_SYSTEM_BUS_ADDRESS of the run is not the private bus " + bus->address();
    }
    return bus->confirmLogindStandIn();
}

}  // namespace e2e
