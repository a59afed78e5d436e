// Requests answered by worker threads: every answer reaches the delegate on
// the main queue, in order, and the state on disk says what was decided. The
// decisions themselves have their own table; this is the plumbing around them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "ScratchStateHome.hpp"
#include "ServiceDecisions.hpp"
#include "ServiceLife.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Host.hpp"
#include "platform/SystemExtensions.hpp"

// Work posted from any thread waits until the test thread runs it, as the
// application's main loop would. Nothing it runs posts or waits for a poster.
class platform::DispatchQueue {
  public:
    // Runs, on the calling thread, what was posted so far.
    void runPosted() {
        const std::lock_guard lock(mutex);
        for (const auto& work : std::exchange(posted, {})) {
            work();
        }
    }
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
};

void platform::dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    const std::lock_guard lock(queue.mutex);
    queue.posted.push_back(std::move(work));
}

platform::DispatchQueue& platform::mainQueue() {
    static DispatchQueue queue;
    return queue;
}

namespace sysext {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The build puts this bundle, version 2.0.0 (7), beside the test executable.
const std::string id = SYSEXT_TEST_IDENTIFIER;
std::string installed(const std::string& version) {
    return "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\nextension " + id + " " +
           version + " activated enabled\napproved " + id + "\nend\n";
}

// Records every answer as "event;", failures with their code and description;
// each must come on the test thread, through the main queue.
class RecordingDelegate final : public platform::SystemExtensionRequestDelegate {
  public:
    void requestDidFinishWithResult(platform::SystemExtensionRequest&,
                                    platform::Result result) override {
        record("finish " + std::to_string(result), true);
    }
    void requestDidFailWithError(platform::SystemExtensionRequest&,
                                 const platform::Error& error) override {
        record("fail " + std::to_string(error.code) + ": " + error.localizedDescription, true);
    }
    void requestNeedsUserApproval(platform::SystemExtensionRequest& request) override {
        record("approval " + request.identifier());
        onApproval();
    }
    platform::ReplacementAction requestActionForReplacingExtension(
        platform::SystemExtensionRequest&, const platform::ExtensionProperties& existing,
        const platform::ExtensionProperties& replacement) override {
        record("replace " + existing.bundleShortVersion + " (" + existing.bundleVersion + ") by " +
               replacement.bundleShortVersion + " (" + replacement.bundleVersion + ")");
        return platform::Replacement::replace;
    }

    std::function<void()> onApproval = [] {};
    std::string events;
    bool done = false;

  private:
    void record(const std::string& event, bool last = false) {
        EXPECT_EQ(std::this_thread::get_id(), testThread_) << event;
        events += event + ";";
        done = last;
    }
    std::thread::id testThread_ = std::this_thread::get_id();
};

// Runs the main queue until the condition holds; false when it never did.
template <class Condition>
bool runMainQueueUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        platform::mainQueue().runPosted();
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

// One request to its last answer: the answers, in order, none before the main queue ran.
std::string answersTo(
    const std::string& identifier = id, std::function<void()> onApproval = [] {}) {
    RecordingDelegate delegate;
    delegate.onApproval = std::move(onApproval);
    auto request = platform::activationRequestForExtension(identifier, platform::mainQueue());
    request->setDelegate(&delegate);
    platform::submitRequest(request);
    EXPECT_EQ(delegate.events, "");
    EXPECT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    return delegate.events;
}

TEST(SubmitRequest, EachAnswerReachesTheDelegateAndTheStateOnDisk) {
    const testing::ScratchStateHome home;
    // The worker waiting for the user sees the approval written to the state, as sysextctl does.
    EXPECT_EQ(
        answersTo(id,
                  [&] { StateStore(home.paths()).updateWith([](auto& s) { approve(s, id); }); }),
        "approval " + id + ";finish 0;");
    home.writeStateBytes(installed("2.0.0 6"));
    EXPECT_EQ(answersTo(), "replace 2.0.0 (6) by 2.0.0 (7);finish 0;");
    EXPECT_EQ(home.stateBytes(), installed("2.0.0 7"));
    EXPECT_THAT(answersTo("org.example.sysext-test.Absent"),
                AllOf(StartsWith("fail 4: "), HasSubstr("org.example.sysext-test.Absent.dext")));
    home.writeStateBytes("veltrin-sysext-state 1\n");
    EXPECT_THAT(answersTo(), AllOf(StartsWith("fail 1: "), HasSubstr("sysextctl reset")));
    EXPECT_EQ(home.stateBytes(), "veltrin-sysext-state 1\n");
    // The gate still answers, from the fresh state's release, and its output stays its own.
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({14, 0, 0}));
    EXPECT_FALSE(platform::isOperatingSystemAtLeastVersion({14, 0, 1}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // Workers end right after their last answer; none may outlive the scratch state.
    EXPECT_TRUE(runMainQueueUntil([] { return ServiceLife::current()->runningWorkers() == 0; }));
}

TEST(ServiceLifeAtExit, StopsPostingAndWakesWaitersAtOnce) {
    ServiceLife life;
    platform::DispatchQueue queue;
    EXPECT_TRUE(life.post(queue, [] {}));
    std::thread waiter([&] { EXPECT_FALSE(life.pause(std::chrono::hours(1))); });
    life.stop();
    waiter.join();
    EXPECT_FALSE(life.post(queue, [] {}));
    EXPECT_EQ(queue.posted.size(), 1U);
}

}  // namespace
}  // namespace sysext
