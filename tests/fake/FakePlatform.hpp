// The fake platform: every seam function of platform/ (except the file handle,
// which stays the real POSIX one) on a virtual clock, with every sink recorded in
// one ordered trace. Nothing sleeps for real and nothing leaves the process.
//
// How to use it (one FakePlatform per test; making it is the reset):
//
//     fake::FakePlatform fake;               // clock at 0 s == 05/12/2026 07:41:39,
//     fake.createActivityLog();              //   release 13.0.0, home = fresh temp dir
//     fake.launch({"-install"});             // applicationMain(program path, -install);
//                                            //   runs launch, then the loop until idle
//     fake.answerNeedsApproval(0);           // posts the callback to the request's queue
//     fake.runFor(10.0);                     // runs posted work and due timers, in time order
//     EXPECT_EQ(fake.trace(), (fake::Trace{
//         fake::Stdout(0.0, "Running on Ventura or greater\n"), ...}));
//
// Time. now() is virtual seconds since the start. sleepForTimeInterval advances
// it without running anything. Timers fire only inside runUntil/runFor/
// runUntilIdle/runUntilNoTasksRemain, in the order they became due (ties: the
// order of scheduling or posting); posted work is due when it was posted. Every
// timer fires once: the launcher asks for no repeating one (the trace shows it if it did). A task
// that sleeps delays everything behind it, as the blocking pause does on the
// real main thread. After terminate() nothing runs any more (ended()). There is
// one thread: mainQueue().async from another thread is not supported here.
//
// The trace. Every sink call becomes one Event with the virtual time of the call:
// standard output, the two status lines, the key equivalent, the unified log
// (format and typed arguments apart), restart requests, submitted requests,
// timer scheduling / invalidation / firing, replacement answers, terminate. The
// activity log is a real file (home()/veltrinLogFile.txt); whatever is appended
// to it shows up as an ActivityLog event holding the appended bytes, at its place
// in the order (the fake looks at the file before each event and before the
// clock moves). Pointers in events (delegate, timer target, terminate sender,
// queue) are addresses of the most-derived object: compare with fake::address(x).
//
// The launcher's module-level state (launcher::commandLineMode, ...) is not the
// fake's business: reset it yourself, e.g. with fake::resetLauncherState() from
// LauncherReset.hpp.
//
// Linking: the fake calls platform::instantiateLayoutDelegate(), which the
// launcher's logic defines, and the logic calls the fake: link the target
// `fake_launcher`, which groups launcher_logic and fake_platform for the linker.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Application.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Host.hpp"
#include "platform/SystemExtensions.hpp"
#include "platform/Timer.hpp"
#include "platform/UnifiedLog.hpp"

namespace fake {

// ---------------------------------------------------------------- the trace

enum class Sink {
    standardOutput,   // text: the bytes
    macOSMessageBox,  // text: the release line
    messageBox,       // text: the status line
    keyEquivalent,    // text: the key
    unifiedLog,       // text: the format; arguments: the arguments
    activityLog,      // text: bytes appended to the activity-log file
    restart,          // (nothing)
    submit,  // text: identifier; number: 0 activation, 1 deactivation; object: delegate; queue
    timerScheduled,     // number: timer id; seconds: interval; object: target; repeats
    timerInvalidated,   // number: timer id
    timerFired,         // number: timer id
    replacementAnswer,  // number: what the delegate answered
    terminate,          // object: the sender
};

// An owned copy of a unified-log argument.
using Argument = std::variant<std::int64_t, std::string>;

struct Event {
    double time = 0;  // virtual seconds
    Sink sink = Sink::standardOutput;
    std::string text{};
    std::vector<Argument> arguments{};
    std::int64_t number = 0;
    double seconds = 0;
    bool repeats = false;
    const void* object = nullptr;
    const void* queue = nullptr;

    friend bool operator==(const Event&, const Event&) = default;
};
using Trace = std::vector<Event>;

// Printing (long texts are cut, bytes escaped), so test failures are readable.
std::ostream& operator<<(std::ostream& out, const Event& event);
std::string describe(const Trace& trace);

// Address of the most-derived object, the form in which events keep pointers.
template <class T>
const void* address(const T& object) {
    if constexpr (std::is_polymorphic_v<T>) {
        return dynamic_cast<const void*>(&object);
    } else {
        return &object;
    }
}

// Event makers, for writing expected traces.
inline Event Stdout(double t, std::string bytes) {
    return {.time = t, .sink = Sink::standardOutput, .text = std::move(bytes)};
}
inline Event Release(double t, std::string text) {
    return {.time = t, .sink = Sink::macOSMessageBox, .text = std::move(text)};
}
inline Event Status(double t, std::string text) {
    return {.time = t, .sink = Sink::messageBox, .text = std::move(text)};
}
inline Event Key(double t, std::string key) {
    return {.time = t, .sink = Sink::keyEquivalent, .text = std::move(key)};
}
inline Event Log(double t, std::string format, std::vector<Argument> arguments = {}) {
    return {.time = t,
            .sink = Sink::unifiedLog,
            .text = std::move(format),
            .arguments = std::move(arguments)};
}
inline Event ActivityLog(double t, std::string bytes) {
    return {.time = t, .sink = Sink::activityLog, .text = std::move(bytes)};
}
inline Event Restart(double t) {
    return {.time = t, .sink = Sink::restart};
}
inline Event Submit(double t, platform::RequestKind kind, std::string identifier,
                    const void* delegate, const void* queue) {
    return {.time = t,
            .sink = Sink::submit,
            .text = std::move(identifier),
            .number = kind == platform::RequestKind::activation ? 0 : 1,
            .object = delegate,
            .queue = queue};
}
inline Event Scheduled(double t, std::int64_t timerId, double seconds, const void* target,
                       bool repeats = false) {
    return {.time = t,
            .sink = Sink::timerScheduled,
            .number = timerId,
            .seconds = seconds,
            .repeats = repeats,
            .object = target};
}
inline Event Invalidated(double t, std::int64_t timerId) {
    return {.time = t, .sink = Sink::timerInvalidated, .number = timerId};
}
inline Event Fired(double t, std::int64_t timerId) {
    return {.time = t, .sink = Sink::timerFired, .number = timerId};
}
inline Event Answer(double t, std::int64_t value) {
    return {.time = t, .sink = Sink::replacementAnswer, .number = value};
}
inline Event Terminate(double t, const void* sender) {
    return {.time = t, .sink = Sink::terminate, .object = sender};
}

// ---------------------------------------------------------------- the fake

class FakePlatform;

class FakeTimer final : public platform::Timer {
  public:
    enum class State { scheduled, fired, invalidated };

    void invalidate() override;

  private:
    friend class FakePlatform;
    FakeTimer() = default;

    FakePlatform* owner_ = nullptr;  // cleared when the fake goes
    std::int64_t id_ = 0;
    std::int64_t fireAt_ = 0;  // nanoseconds
    std::uint64_t order_ = 0;  // tie-break among things due at the same time
    platform::TimerTarget* target_ = nullptr;
    State state_ = State::scheduled;
};

// What the launcher asked for, kept as it was told.
class FakeRequest final : public platform::SystemExtensionRequest {
  public:
    FakeRequest(platform::RequestKind kind, std::string identifier, platform::DispatchQueue& queue)
        : kind_(kind), identifier_(std::move(identifier)), queue_(&queue) {}
    platform::RequestKind kind() const { return kind_; }
    std::string identifier() const override { return identifier_; }
    platform::DispatchQueue& queue() const { return *queue_; }
    platform::SystemExtensionRequestDelegate* delegate() const { return delegate_; }
    void setDelegate(platform::SystemExtensionRequestDelegate* delegate) override {
        delegate_ = delegate;
    }

  private:
    platform::RequestKind kind_;
    std::string identifier_;
    platform::DispatchQueue* queue_;
    platform::SystemExtensionRequestDelegate* delegate_ = nullptr;
};

struct LocalDateTime {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The window's objects. They record into the trace and keep what they were told.
class FakeWindow final : public platform::Window {};

class FakeTextField final : public platform::TextField {
  public:
    FakeTextField(FakePlatform& fake, Sink sink) : fake_(&fake), sink_(sink) {}
    void setStringValue(std::string_view text) override;

  private:
    FakePlatform* fake_;
    Sink sink_;
};

class FakeButton final : public platform::Button {
  public:
    explicit FakeButton(FakePlatform& fake) : fake_(&fake) {}
    void setKeyEquivalent(std::string_view key) override;

  private:
    FakePlatform* fake_;
};

class FakePlatform {
  public:
    // The program path that launch() puts first.
    static constexpr std::string_view programPath =
        "/Applications/veltrin_Driverkit_Launcher.app/Contents/MacOS/veltrin_Driverkit_Launcher";

    // Becomes the platform of the process (only one at a time) with a fresh
    // temporary home directory; the destructor removes that directory.
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // ---- configuration (before launch)
    void setRelease(long major, long minor, long patch) { release_ = {major, minor, patch}; }
    void setOsLogDefaultTypeEnabled(bool enabled) { osLogEnabled_ = enabled; }
    // The local date and time at virtual 0 s (no time zone, no daylight saving).
    void setStartDateTime(LocalDateTime start);
    struct Outlets {
        bool window = true;
        bool quitButton = true;
        bool messageBox = true;
        bool macOSMessageBox = true;
    };
    // Which outlets applicationMain connects.
    void setOutlets(Outlets outlets) { outlets_ = outlets; }

    // ---- the home directory and the activity log
    const std::string& home() const { return home_; }
    std::string activityLogPath() const;
    // Creates the activity-log file with these bytes (not traced as a write).
    void createActivityLog(std::string_view initialBytes = {});
    // The file's bytes; nullopt when there is no regular file.
    std::optional<std::string> activityLogBytes() const;

    // ---- starting
    // platform::applicationMain with programPath followed by `flags`.
    int launch(const std::vector<std::string>& flags);
    // What applicationMain does, after storing argv: instantiate the layout
    // delegate, connect the outlets, applicationDidFinishLaunching, runUntilIdle.
    int applicationMain(int argc, char** argv);

    // ---- the clock and the main loop
    double now() const;
    void advanceClock(double seconds);  // what sleepForTimeInterval does
    void runUntilIdle();                // runs what is due now; the clock moves only by sleeps
    void runUntil(double time);         // runs everything due up to `time`, then clock = time
    void runFor(double seconds) { runUntil(now() + seconds); }
    // Runs until nothing is scheduled or posted, at most up to now + bound.
    void runUntilNoTasksRemain(double bound = 3600.0);
    bool ended() const { return ended_; }

    // ---- requests submitted through submitRequest, in order
    const std::vector<std::shared_ptr<FakeRequest>>& requests() const { return requests_; }
    // Each posts the delegate callback to the request's queue, as the service does.
    void answerFinished(std::size_t index, platform::Result result);
    void answerFailed(std::size_t index, std::string localizedDescription);
    void answerNeedsApproval(std::size_t index);
    void answerReplacement(std::size_t index, std::string existingShortVersion,
                           std::string newShortVersion);

    // ---- the user (posted to the main queue, like window events)
    void pressLoadButton();
    void pressDisableButton();
    void userQuits();  // terminate with the quit button as sender

    // ---- what happened
    const Trace& trace();  // brings activity-log writes up to date first
    void clearTrace();
    platform::ApplicationDelegate* delegate() const { return delegate_.get(); }
    // Timer by id (1 for the first scheduled one); null when there is no such id.
    std::shared_ptr<FakeTimer> timer(std::int64_t id) const;
    const FakeButton* quitButton() const { return quitButton_.get(); }
    platform::DispatchQueue& mainQueue();

    // ---- used by the seam functions and the fake objects
    static FakePlatform& current();
    void record(Event event);
    void post(std::function<void()> work);
    std::shared_ptr<platform::Timer> scheduleTimer(double seconds, platform::TimerTarget& target,
                                                   bool repeats);
    void invalidateTimer(FakeTimer& timer);
    void terminate(const void* sender);
    void submit(std::shared_ptr<FakeRequest> request);
    bool isAtLeast(platform::OperatingSystemVersion version) const;
    bool osLogDefaultTypeEnabled() const { return osLogEnabled_; }
    const std::vector<std::string>& processArguments() const { return arguments_; }
    LocalDateTime localDateTime() const;
    // Standard error is no sink of the report, so it stays out of the trace.
    std::vector<std::string> approvalInstructions;

  private:
    struct Posted {
        std::int64_t postedAt;
        std::uint64_t order;
        std::function<void()> work;
    };

    void observeActivityLog();
    bool runNextDue(std::int64_t limit);
    template <class Callback>
    void deliver(std::size_t index, Callback callback);

    std::string home_;  // a temporary directory, removed with everything under it
    platform::OperatingSystemVersion release_{13, 0, 0};
    bool osLogEnabled_ = true;
    std::vector<std::string> arguments_;
    Outlets outlets_;
    std::int64_t startSecondsOfEpoch_ =
        0;  // the start date and time, in seconds since 1970 (as if UTC)

    std::int64_t nowNs_ = 0;
    std::uint64_t nextOrder_ = 0;
    bool ended_ = false;
    std::vector<Posted> posted_;
    std::vector<std::shared_ptr<FakeTimer>> timers_;  // every timer ever scheduled; index = id - 1
    std::unique_ptr<platform::DispatchQueue> mainQueue_;

    std::unique_ptr<platform::ApplicationDelegate> delegate_;
    std::shared_ptr<FakeWindow> window_;
    std::shared_ptr<FakeButton> quitButton_;
    std::shared_ptr<FakeTextField> messageBox_;
    std::shared_ptr<FakeTextField> macOSMessageBox_;

    std::vector<std::shared_ptr<FakeRequest>> requests_;
    Trace trace_;
    std::uint64_t activityLogSeen_ = 0;  // bytes of the file already in the trace
};

}  // namespace fake

// The fake's main queue: posted work runs when the test runs the loop.
class platform::DispatchQueue {
  public:
    explicit DispatchQueue(fake::FakePlatform& fake) : fake_(&fake) {}
    void async(std::function<void()> work);

  private:
    fake::FakePlatform* fake_;
};
