// The seam's free functions, each handed to the fake platform in place.
#include "FakePlatform.hpp"

namespace platform {

using fake::FakePlatform;

int applicationMain(int argc, char** argv) {
    return FakePlatform::current().applicationMain(argc, argv);
}

void terminate(const void* sender) {
    FakePlatform::current().terminate(sender);
}

std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds, TimerTarget& target,
                                                      bool repeats) {
    return FakePlatform::current().scheduleTimer(seconds, target, repeats);
}

void sleepForTimeInterval(double seconds) {
    FakePlatform::current().advanceClock(seconds);
}

DispatchQueue& mainQueue() {
    return FakePlatform::current().mainQueue();
}

bool isOperatingSystemAtLeastVersion(OperatingSystemVersion version) {
    return FakePlatform::current().isAtLeast(version);
}

std::string homeDirectoryForCurrentUser() {
    return FakePlatform::current().home();
}

void requestRestart() {
    FakePlatform::current().record(fake::Restart(0));
}

void writeStandardOutput(std::string_view bytes) {
    FakePlatform::current().record(fake::Stdout(0, std::string(bytes)));
}

void writeApprovalInstructions(std::string_view extensionIdentifier) {
    FakePlatform::current().approvalInstructions.emplace_back(extensionIdentifier);
}

std::vector<std::string> processArguments() {
    return FakePlatform::current().processArguments();
}

LocalDateTime currentLocalDateTime() {
    return FakePlatform::current().localDateTime();
}

bool osLogDefaultTypeEnabled() {
    return FakePlatform::current().osLogDefaultTypeEnabled();
}

void osLog(LogFormat format, std::span<const LogArgument> arguments) {
    std::vector<fake::Argument> copies;
    for (const LogArgument& argument : arguments) {
        if (const auto* integer = std::get_if<std::int64_t>(&argument)) {
            copies.emplace_back(*integer);
        } else {
            copies.emplace_back(std::string(std::get<std::string_view>(argument)));
        }
    }
    FakePlatform::current().record(fake::Log(0, std::string(format.text()), std::move(copies)));
}

void submitRequest(std::shared_ptr<SystemExtensionRequest> request) {
    FakePlatform::current().submit(std::move(request));
}

}  // namespace platform
