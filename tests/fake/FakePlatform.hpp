// The fake platform: every seam function of platform/ (except the file handle,
// which stays the real POSIX one) on a virtual clock, with every sink recorded in
// one ordered trace. Nothing sleeps for real and nothing leaves the process.
//
//     fake::FakePlatform fake;         // clock at 0 s == 05/12/2026 07:41:39,
//     fake.createActivityLog();        //   release 13.0.0, home = fresh temp dir
//     fake.launch({"-install"});       // applicationMain, then the loop until idle
//     fake.answerNeedsApproval(0);     // posts the callback to the request's queue
//     fake.runFor(10.0);               // posted work and due timers, in time order
//     EXPECT_EQ(fake::lines(fake.trace()), fake::lines({"0 Stdout Running on ...", ...}));
//
// Time. sleepForTimeInterval advances the clock without running anything.
// Timers fire only inside the run functions, in the order they became due (ties:
// the order of scheduling or posting); posted work is due when it was posted. A
// timer fires once: the launcher asks for no repeating one, and the trace shows
// it if it did. After terminate() nothing runs any more. There is one thread.
//
// The trace: one entry per sink call, "<virtual seconds> <sink> <what>":
//   Stdout, Release, Status, Key, ActivityLog: the text or bytes;
//   Log: the format, then " | " and each argument, numbers as #N;
//   Submit activation|deactivation|properties <identifier> <delegate> <queue>;
//   Scheduled #N <seconds> <target> [repeats]; Invalidated #N; Fired #N;
//   Answer <replacement answer>; Terminate <sender>; Restart.
// Objects are named: app (the delegate), quit (the quit button), main (the main
// queue), none, other. Whatever is appended to the activity-log file (a real
// file, home()/veltrinLogFile.txt) becomes an ActivityLog entry at its place in
// the order: the fake looks at the file before each entry and before the clock moves.
//
// The launcher's module-level state is not the fake's business: reset it with
// fake::resetLauncherState() from LauncherReset.hpp. Link the target
// `fake_launcher`: the fake instantiates the launcher's layout delegate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Application.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Host.hpp"
#include "platform/SystemExtensions.hpp"
#include "platform/Timer.hpp"
#include "platform/UnifiedLog.hpp"

namespace fake {

using Trace = std::vector<std::string>;

// One entry a line, bytes outside printable ASCII (and the backslash) as \xHH: two
// traces compared this way print as a readable diff.
std::string lines(const Trace& trace);

class FakeTimer final : public platform::Timer {
  public:
    explicit FakeTimer(int number) : id(number) {}
    void invalidate() override;

    const int id;
    bool scheduled = true;
};

class FakeRequest final : public platform::SystemExtensionRequest {
  public:
    FakeRequest(platform::RequestKind k, std::string identifier, platform::DispatchQueue& q)
        : kind(k), identifier_(std::move(identifier)), queue(&q) {}
    std::string identifier() const override { return identifier_; }
    void setDelegate(platform::SystemExtensionRequestDelegate* d) override { delegate = d; }

    const platform::RequestKind kind;
    const std::string identifier_;
    platform::DispatchQueue* const queue;
    platform::SystemExtensionRequestDelegate* delegate = nullptr;
};

// The window, the quit button or a text field whose texts go to the trace as `sink`.
class FakeOutlet final : public platform::Window,
                         public platform::TextField,
                         public platform::Button {
  public:
    explicit FakeOutlet(const char* sink = "") : sink_(sink) {}
    void setStringValue(std::string_view text) override;
    void setKeyEquivalent(std::string_view key) override;

  private:
    const char* sink_;
};

class FakePlatform {
  public:
    static constexpr std::string_view programPath =
        "/Applications/veltrin_Driverkit_Launcher.app/Contents/MacOS/veltrin_Driverkit_Launcher";

    // Becomes the platform of the process (one at a time) with a fresh temporary
    // home directory, which the destructor removes.
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // ---- configuration (before launch)
    platform::OperatingSystemVersion release{13, 0, 0};
    bool osLogDefaultTypeEnabled = true;
    bool outletsConnected = true;  // false: the layout connects none of the four outlets

    // ---- the home directory and the activity log
    const std::string& home() const { return home_; }
    std::string activityLogPath() const { return home_ + "/veltrinLogFile.txt"; }
    // Creates the file with these bytes (not traced as a write).
    void createActivityLog(std::string_view initialBytes = {});
    // nullopt when there is no regular file.
    std::optional<std::string> activityLogBytes() const;

    // ---- starting: what applicationMain does with programPath followed by `flags`
    int launch(const std::vector<std::string>& flags);

    // ---- the clock and the main loop
    double now() const { return static_cast<double>(nowNs_) / 1e9; }
    void advanceClock(double seconds);  // what sleepForTimeInterval does
    void runUntilIdle() { runUntil(now()); }
    void runUntil(double time);  // runs everything due up to `time`, then clock = time
    void runFor(double seconds) { runUntil(now() + seconds); }

    // ---- the service's answers to the index-th submitted request, posted to its queue
    void answerFinished(std::size_t index, platform::Result result);
    void answerFailed(std::size_t index, std::string localizedDescription,
                      std::int64_t code = platform::SystemExtensionErrorCode::unknown);
    void answerNeedsApproval(std::size_t index);
    void answerReplacement(std::size_t index, std::string existingVersion, std::string newVersion);
    void answerFoundProperties(std::size_t index,
                               std::vector<platform::ExtensionProperties> properties);

    // ---- the user (posted to the main queue, like window events)
    void pressLoadButton();
    void pressDisableButton();
    void userQuits();

    // ---- what happened
    const Trace& trace();  // brings activity-log writes up to date first
    void clearTrace() {
        observeActivityLog();
        trace_.clear();
    }
    platform::ApplicationDelegate* delegate() const { return delegate_.get(); }
    // Standard error is no sink of the report, so it stays out of the trace.
    std::string standardError;
    int exitStatus = 0;
    bool windowShown = false;  // what the delegate answered before the launch

    // ---- used by the seam functions and the fake objects
    static FakePlatform& current();
    void record(const std::string& what);
    std::string name(const void* object) const;
    void post(std::function<void()> work);
    std::shared_ptr<platform::Timer> scheduleTimer(double seconds, platform::TimerTarget& target,
                                                   bool repeats);
    void terminate(const void* sender);
    void submit(std::shared_ptr<FakeRequest> request);
    bool isAtLeast(platform::OperatingSystemVersion version) const;
    const std::vector<std::string>& processArguments() const { return arguments_; }
    platform::DispatchQueue& mainQueue() { return *mainQueue_; }

  private:
    // Posted work is due when it was posted, a timer when it fires; ties go by `order`.
    struct Due {
        std::int64_t at;
        std::uint64_t order;
        std::function<void()> work;
    };

    void observeActivityLog();
    bool runNextDue(std::int64_t limit);
    void deliver(std::size_t index,
                 std::function<void(platform::SystemExtensionRequestDelegate&, FakeRequest&)> call);

    std::string home_;
    std::vector<std::string> arguments_;

    std::int64_t nowNs_ = 0;
    std::uint64_t nextOrder_ = 0;
    bool ended_ = false;
    std::vector<Due> due_;
    int timerCount_ = 0;
    std::unique_ptr<platform::DispatchQueue> mainQueue_;

    std::unique_ptr<platform::ApplicationDelegate> delegate_;
    std::shared_ptr<FakeOutlet> quitButton_;
    std::vector<std::shared_ptr<FakeRequest>> requests_;
    Trace trace_;
    std::size_t activityLogSeen_ = 0;  // bytes of the file already in the trace
};

}  // namespace fake

// The fake's main queue: posted work runs when the test runs the loop.
class platform::DispatchQueue {
  public:
    explicit DispatchQueue(fake::FakePlatform& fake) : fake_(&fake) {}
    void async(std::function<void()> work) { fake_->post(std::move(work)); }

  private:
    fake::FakePlatform* fake_;
};
