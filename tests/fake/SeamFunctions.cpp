// The seam's free functions, each handed to the fake platform in place; the
// tests start the launcher with FakePlatform::launch instead of applicationMain.
#include <ctime>
#include <stdexcept>

#include "FakePlatform.hpp"

namespace platform {

using fake::FakePlatform;

void terminate(ApplicationDelegate& sender) {
    FakePlatform::current().terminate(dynamic_cast<const void*>(&sender));
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
    FakePlatform::current().record("Restart");
}

void writeStandardOutput(std::string_view bytes) {
    FakePlatform::current().record("Stdout " + std::string(bytes));
}

void writeStandardError(std::string_view bytes) {
    FakePlatform::current().standardError.append(bytes);
}

void setExitStatus(int status) {
    FakePlatform::current().exitStatus = status;
}

std::string approvalHint(std::string_view extensionIdentifier) {
    return "approve " + std::string(extensionIdentifier) + "\n";
}

std::vector<std::string> processArguments() {
    return FakePlatform::current().processArguments();
}

// Virtual 0 s is 05/12/2026 07:41:39, read as UTC so that no zone or daylight
// saving applies. The patterns' fields the launcher uses become the date's
// digits; any other letter stays as written.
std::string stringFromCurrentDate(std::string_view dateFormat) {
    const auto seconds = static_cast<std::time_t>(1'796'456'499 + FakePlatform::current().now());
    std::tm t{};
    ::gmtime_r(&seconds, &t);
    std::string format(dateFormat);
    for (const auto& [field, directive] : {std::pair{"yyyy", "%Y"},
                                           {"MM", "%m"},
                                           {"dd", "%d"},
                                           {"HH", "%H"},
                                           {"mm", "%M"},
                                           {"ss", "%S"}}) {
        for (auto at = format.find(field); at != std::string::npos; at = format.find(field, at)) {
            format.replace(at, std::string_view(field).size(), directive);
        }
    }
    char out[128];
    return {out, std::strftime(out, sizeof out, format.c_str(), &t)};
}

bool osLogDefaultTypeEnabled() {
    return FakePlatform::current().osLogDefaultTypeEnabled;
}

void osLog(LogFormat format, std::span<const LogArgument> arguments) {
    if (format.row() == notAProgramLogFormat) {
        throw std::logic_error("fake: \"" + std::string(format.text()) +
                               "\" is missing from programLogFormats");
    }
    std::string entry = "Log " + std::string(format.text());
    for (const LogArgument& argument : arguments) {
        const auto* integer = std::get_if<std::int64_t>(&argument);
        entry += integer != nullptr ? " | #" + std::to_string(*integer)
                                    : " | " + std::string(std::get<std::string_view>(argument));
    }
    FakePlatform::current().record(entry);
}

std::shared_ptr<SystemExtensionRequest> activationRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<fake::FakeRequest>(RequestKind::activation, std::move(identifier),
                                               queue);
}

std::shared_ptr<SystemExtensionRequest> deactivationRequestForExtension(std::string identifier,
                                                                        DispatchQueue& queue) {
    return std::make_shared<fake::FakeRequest>(RequestKind::deactivation, std::move(identifier),
                                               queue);
}

std::shared_ptr<SystemExtensionRequest> propertiesRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<fake::FakeRequest>(RequestKind::properties, std::move(identifier),
                                               queue);
}

// Only the functions above make requests under the fake.
void submitRequest(std::shared_ptr<SystemExtensionRequest> request) {
    FakePlatform::current().submit(std::static_pointer_cast<fake::FakeRequest>(std::move(request)));
}

}  // namespace platform
