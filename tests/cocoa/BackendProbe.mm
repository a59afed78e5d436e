// One piece of the macOS backend at a time, on GNUstep, in a process of its own
// (backend_test.py runs each under the end-to-end harness). Ends with 0 when the
// piece did what it must; a piece that loses a quit never ends.
#import <AppKit/AppKit.h>
#include <syslog.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "QuitSignals.h"
#include "platform/DispatchQueue.hpp"
#include "platform/SystemExtensions.hpp"
#include "platform/Timer.hpp"
#include "platform/UnifiedLog.hpp"

namespace {

// Runs the main run loop in `mode` until `done` or five seconds have passed.
bool runUntil(NSString* mode, const auto& done) {
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:5];
    while (!done() && [deadline timeIntervalSinceNow] > 0) {
        @autoreleasepool {
            [[NSRunLoop mainRunLoop] runMode:mode
                                  beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
        }
    }
    return done();
}

// Each kind of the program's formats with hostile arguments reads, through
// os_log, as the platform's formatting of the table's format does. LOG_PERROR
// copies each syslog message to standard error, which a pipe brings back here.
int logRendersLikeTheTable() {
    const std::pair<platform::LogFormat, std::vector<platform::LogArgument>> rows[] = {
        {"file URL = %s", {"file:///home/a%20b/veltrinLogFile.txt"}},
        {"Start:installing driver\n", {}},
        {"Error:Unexpected result %d for system extension request", {std::int64_t{-1} << 40}},
        {"Error:System extension request failed: %@", {"a %@ and %{public}@ text"}},
        {"Info:Replacing extension %@ version %@ with version %@", {"id", "1.0 %d", "2.0"}},
    };
    int ends[2];
    if (pipe(ends) != 0 || dup2(ends[1], STDERR_FILENO) < 0) {
        return 2;
    }
    openlog("probe", LOG_PERROR, LOG_USER);
    int failures = 0;
    for (const auto& [format, arguments] : rows) {
        platform::osLog(format, arguments);
        std::string want = "probe: " + platform::formatLogMessage(format, arguments);
        want += want.back() != '\n' ? "\n" : "";
        std::string got(want.size() + 64, '\0');
        got.resize(
            static_cast<std::size_t>(std::max<ssize_t>(read(ends[0], got.data(), got.size()), 0)));
        if (got != want) {
            std::printf("wanted: %s     got: %s", want.c_str(), got.c_str());
            ++failures;
        }
    }
    return failures;
}

struct Counter final : platform::TimerTarget {
    int fired = 0;
    void fireTimer() override { ++fired; }
};

// An exit timer fires while a menu is tracked or a modal panel is up.
int timerFiresInTheModesOfMenusAndPanels() {
    int failures = 0;
    for (NSString* mode : {NSEventTrackingRunLoopMode, NSModalPanelRunLoopMode}) {
        Counter counter;
        const auto timer = platform::scheduledTimerWithTimeInterval(0.05, counter, false);
        if (!runUntil(mode, [&] { return counter.fired > 0; })) {
            std::printf("no timer fired in %s\n", [mode UTF8String]);
            ++failures;
        }
    }
    return failures;
}

// A quit signal that comes before the application object exists still ends the
// application once it runs (GNUstep's terminate: ends the process).
int quitBeforeTheApplicationExists() {
    platform::installQuitSignals();
    std::raise(SIGTERM);
    usleep(300000);  // the signal's waiter has long passed the quit on by now
    [NSApplication sharedApplication];
    [NSApp run];
    return 1;
}

struct Answers final : platform::SystemExtensionRequestDelegate {
    platform::SystemExtensionRequestDelegate* next = nullptr;
    int failures = 0;
    void requestDidFinishWithResult(platform::SystemExtensionRequest&, platform::Result) override {}
    void requestDidFailWithError(platform::SystemExtensionRequest& request,
                                 const platform::Error&) override {
        ++failures;
        request.setDelegate(next);
    }
    void requestNeedsUserApproval(platform::SystemExtensionRequest&) override {}
    platform::ReplacementAction requestActionForReplacingExtension(
        platform::SystemExtensionRequest&, const platform::ExtensionProperties&,
        const platform::ExtensionProperties&) override {
        return platform::Replacement::replace;
    }
};

// A submitted request whose delegate is replaced, and which only the service
// then holds, answers the new delegate (deactivating what is not installed fails
// at once); that one drops the delegate in its answer. Each object is released
// once, after its last use.
int delegateReplacedAfterSubmission(const char* identifier) {
    Answers first;
    Answers second;
    auto request = platform::deactivationRequestForExtension(identifier, platform::mainQueue());
    request->setDelegate(&first);
    platform::submitRequest(request);
    request->setDelegate(&second);
    request.reset();
    const bool answered = runUntil(NSDefaultRunLoopMode, [&] { return second.failures > 0; });
    return answered && first.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string piece = argc > 1 ? argv[1] : "";
    @autoreleasepool {
        return piece == "log"        ? logRendersLikeTheTable()
               : piece == "timer"    ? timerFiresInTheModesOfMenusAndPanels()
               : piece == "quit"     ? quitBeforeTheApplicationExists()
               : piece == "delegate" ? delegateReplacedAfterSubmission(argc > 2 ? argv[2] : "")
                                     : 2;
    }
}
