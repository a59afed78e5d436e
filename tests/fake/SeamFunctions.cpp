// The seam's free functions, each handed to the fake platform in place.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "FakePlatform.hpp"

namespace platform {

using fake::FakePlatform;

int applicationMain(int argc, char** argv) {
    return FakePlatform::current().applicationMain(argc, argv);
}

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

void writeApprovalInstructions(std::string_view extensionIdentifier) {
    FakePlatform::current().approvalInstructions.emplace_back(extensionIdentifier);
}

std::vector<std::string> processArguments() {
    return FakePlatform::current().processArguments();
}

// Virtual 0 s is 05/12/2026 07:41:39, read as UTC so that no zone or daylight
// saving applies. The patterns' fields the launcher uses; any other letter stays
// as written.
std::string stringFromCurrentDate(std::string_view dateFormat) {
    const std::time_t seconds =
        1'796'456'499 + static_cast<std::time_t>(FakePlatform::current().now());
    std::tm t{};
    ::gmtime_r(&seconds, &t);
    std::string out(dateFormat);
    for (const auto& [field, value] : {std::pair{"yyyy", t.tm_year + 1900},
                                       {"MM", t.tm_mon + 1},
                                       {"dd", t.tm_mday},
                                       {"HH", t.tm_hour},
                                       {"mm", t.tm_min},
                                       {"ss", t.tm_sec}}) {
        const std::string pattern = field;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%0*d", static_cast<int>(pattern.size()), value);
        for (auto at = out.find(pattern); at != std::string::npos; at = out.find(pattern, at)) {
            out.replace(at, pattern.size(), digits);
        }
    }
    return out;
}

bool osLogDefaultTypeEnabled() {
    return FakePlatform::current().osLogDefaultTypeEnabled;
}

void osLog(LogFormat format, std::span<const LogArgument> arguments) {
    if (format.row() == notAProgramLogFormat) {
        std::fprintf(stderr, "fake: \"%.*s\" is missing from programLogFormats\n",
                     static_cast<int>(format.text().size()), format.text().data());
        std::abort();
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

// Only the functions above make requests under the fake.
void submitRequest(std::shared_ptr<SystemExtensionRequest> request) {
    FakePlatform::current().submit(std::static_pointer_cast<fake::FakeRequest>(std::move(request)));
}

}  // namespace platform
