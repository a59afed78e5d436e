// The fake platform: every seam function of platform/ (except the file handle,
// which stays the real POSIX one) on a virtual clock, with every sink recorded in
// one ordered trace. Nothing sleeps for real and nothing leaves the process.
//
//     fake::FakePlatform fake;         // clock at 0 s == 05/12/2026 07:41:39,
//     fake.createActivityLog();        //   release 13.0.0, home = fresh temp dir
//     fake.launch({"-install"});       // applicationMain, then the loop until idle
//     fake.play("approve t10");        // the service asks for approval; 10 s pass
//     EXPECT_EQ(fake::lines(fake.trace()), fake::lines(expected));
//
// Time. sleepForTimeInterval advances the clock without running anything.
// Timers fire only while the loop runs, in the order they became due (ties: the
// order of scheduling or posting); posted work is due when it was posted. A
// timer fires once: the launcher asks for no repeating one, and the trace shows
// it if it did. After terminate() nothing runs any more. There is one thread.
//
// The trace: one entry per sink call, its virtual time, its sink and what:
//   Window (shown at launch); Stdout, Stderr, Release, Status, Key, ActivityLog:
//   the text or bytes; Log: the format, then " | " and each argument, numbers as
//   #N; Submit activation|deactivation|properties <identifier> <delegate> <queue>;
//   Scheduled #N <seconds> <target> [repeats]; Invalidated #N; Fired #N;
//   Answer <replacement answer>; Terminate <sender>; Restart.
// Objects are named: app (the delegate), quit (the quit button), main (the main
// queue), none, other. Whatever is appended to the activity-log file (a real
// file, home/veltrinLogFile.txt) becomes an ActivityLog entry at its place in
// the order: the fake looks at the file before each entry and before the clock moves.
//
// The launcher's module-level state is put back to its start values when a fake
// is made and when it goes. Link `fake_launcher`: the fake instantiates the
// launcher's layout delegate.
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

// The fake is its own main queue: posted work runs when the test runs the loop.
class platform::DispatchQueue {};

namespace fake {

struct Entry {
    std::int64_t ns;  // virtual time
    std::string sink, what;
    bool operator==(const Entry&) const = default;
};
using Trace = std::vector<Entry>;

// "<seconds> <sink> <what>" a line, bytes outside printable ASCII (and the
// backslash) as \xHH: two traces compared this way print as a readable diff.
std::string lines(const Trace& trace);

// Versions of an extension by their states, a letter each: e enabled, a
// awaiting approval, u uninstalling, b both a and u, d none of these
// (disabled); the n-th is version n, short version 1.n.
std::vector<platform::ExtensionProperties> versions(const std::string& identifier,
                                                    std::string_view states);

// A file, whole: the tests' tables, the README.
std::string wholeFile(const std::string& path);

// The date at virtual second `seconds` as the launcher's pattern writes it; 0 s is
// 05/12/2026 07:41:39, the same in every zone.
std::string dateAt(double seconds);

class FakePlatform : public platform::DispatchQueue {
  public:
    static constexpr std::string_view programPath =
        "/Applications/veltrin_Driverkit_Launcher.app/Contents/MacOS/veltrin_Driverkit_Launcher";

    // Becomes the platform of the process (one at a time) with a fresh temporary
    // home directory, which the destructor removes.
    FakePlatform();
    ~FakePlatform();

    // Before the launch.
    platform::OperatingSystemVersion release{13, 0, 0};
    bool osLogDefaultTypeEnabled = true;
    bool outletsConnected = true;  // false: the layout connects none of the four outlets

    std::string activityLogPath() const { return home + "/veltrinLogFile.txt"; }
    void createActivityLog(std::string_view initialBytes = {});  // not traced as a write
    std::optional<std::string> activityLogBytes() const;         // nullopt: no regular file

    // What applicationMain does with programPath followed by `flags`.
    void launch(const std::vector<std::string>& flags);

    // What the service and the user do, a word each, in order: tS runs the loop
    // to second S; rN answers completion with result N, and fail:D, approve,
    // swap:E:N, found:STATES (as versions() has them) the other answers, each
    // to the first request or, with @K after the word, to the K-th (from 0),
    // posted to its queue; load, disable, quit are posted like window events. A
    // field "$" stands for `outside`, "$!" for `outside` and "!".
    void play(const std::string& script, const std::string& outside = "");
    double now() const { return static_cast<double>(nowNs) / 1e9; }
    void runUntil(double time);  // runs everything due up to `time`, then clock = time
    void runFor(double seconds) { runUntil(now() + seconds); }

    const Trace& trace() { return observeActivityLog(), trace_; }  // activity-log writes first
    void clearTrace() { trace(), trace_.clear(); }
    int exitStatus = 0;

    // The seam functions' side.
    static FakePlatform& current();
    void record(std::string sink, std::string what = "");
    std::string name(const void* object) const;
    void post(std::function<void()> work, std::int64_t delayNs = 0) {
        due_.push_back({nowNs + delayNs, nextOrder_++, std::move(work)});
    }
    void observeActivityLog();
    void end(const void* sender);

    std::string home;
    std::vector<std::string> arguments;
    std::int64_t nowNs = 0;
    int timerCount = 0;
    std::unique_ptr<platform::ApplicationDelegate> delegate;
    std::shared_ptr<platform::Button> quitButton;
    std::vector<std::shared_ptr<platform::SystemExtensionRequest>> requests;

  private:
    struct Due {  // posted work is due when posted, a timer when it fires; ties by order
        std::int64_t at;
        std::uint64_t order;
        std::function<void()> work;
    };
    std::vector<Due> due_;
    std::uint64_t nextOrder_ = 0;
    bool ended_ = false;
    Trace trace_;
    std::size_t activityLogSeen_ = 0;  // bytes of the file already in the trace
};

}  // namespace fake
