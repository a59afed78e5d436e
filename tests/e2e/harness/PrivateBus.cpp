#include "PrivateBus.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace e2e {

namespace {

constexpr const char* logindName = "org.freedesktop.login1";

const Environment toolEnvironment{
    {"PATH", std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"}};

// The rest of the first line `child` prints that starts with `prefix`, without
// its line feed; empty when none comes in time.
std::string lineAfter(Child& child, const std::string& prefix) {
    const auto line = child.waitForLine(prefix, Seconds(10));
    return line ? line->text.substr(prefix.size(), line->text.size() - prefix.size() - 1) : "";
}

}  // namespace

std::unique_ptr<PrivateBus> PrivateBus::start(const std::string& directory, std::string& error) {
    std::unique_ptr<PrivateBus> bus(new PrivateBus);
    bus->directory_ = directory;
    const std::string configPath = directory + "/bus.conf";
    // Everyone may do everything: the only clients are the tests' own.
    std::ofstream(configPath) << "<busconfig><type>veltrin-e2e-system</type><listen>unix:path="
                              << directory
                              << "/system_bus_socket</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                                 "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                 "</policy></busconfig>\n";
    // dbus-daemon: Debian package dbus-daemon. Its address is the first line it prints.
    bus->daemon_ = Child::spawn({"dbus-daemon", "--config-file=" + configPath, "--print-address",
                                 "--nofork", "--nopidfile"},
                                toolEnvironment, directory + "/dbus-daemon.stderr", error);
    if (!bus->daemon_ || (bus->address_ = lineAfter(*bus->daemon_, "")).empty()) {
        error += " dbus-daemon printed no address";
        return nullptr;
    }
    bus->recorder_ =
        Child::spawn({VELTRIN_E2E_LOGIND_RECORDER, bus->address_, directory + "/reboot-calls.txt"},
                     toolEnvironment, directory + "/logind-recorder.stderr", error);
    if (!bus->recorder_ || (bus->recorderName_ = lineAfter(*bus->recorder_, "ready ")).empty()) {
        error += " the logind stand-in did not claim its name on the private bus";
        return nullptr;
    }
    return bus;
}

std::vector<std::string> PrivateBus::takeRecordedCalls() const {
    std::vector<std::string> calls;
    std::ifstream record(directory_ + "/reboot-calls.txt");
    for (std::string line; std::getline(record, line);) {
        calls.push_back(line);
    }
    std::ofstream(directory_ + "/reboot-calls.txt", std::ios::trunc);
    return calls;
}

std::string PrivateBus::confirmLogindStandIn() const {
    if (daemon_->waitForExit(Seconds(0))) {
        return "the private dbus-daemon is not running";
    }
    if (recorder_->waitForExit(Seconds(0))) {
        return "the logind stand-in is not running";
    }
    std::string error;
    // dbus-send: Debian package dbus-bin.
    auto query =
        Child::spawn({"dbus-send", "--bus=" + address_, "--print-reply",
                      "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                      "org.freedesktop.DBus.GetNameOwner", std::string("string:") + logindName},
                     toolEnvironment, directory_ + "/dbus-send.stderr", error);
    if (!query) {
        return error;
    }
    if (!query->finish(Seconds(10)).ok()) {
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
