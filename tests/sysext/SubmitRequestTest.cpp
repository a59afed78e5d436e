// Requests answered by worker threads: every answer reaches the delegate on
// the main queue, in order, and the state on disk says what was decided.
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
// application's main loop would.
class platform::DispatchQueue {
  public:
    void async(std::function<void()> work) {
        const std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    // Runs, on the calling thread, what was posted so far.
    void runPosted() {
        std::unique_lock lock(mutex_);
        const auto posted = std::exchange(work_, {});
        lock.unlock();
        for (const auto& work : posted) {
            work();
        }
    }

  private:
    std::mutex mutex_;
    std::vector<std::function<void()>> work_;
};

void platform::dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    queue.async(std::move(work));
}

namespace sysext {
namespace {

using namespace std::chrono_literals;
using enum platform::RequestKind;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using TestMainQueue = platform::DispatchQueue;

TestMainQueue& testMainQueue() {
    static TestMainQueue queue;
    return queue;
}

// The build puts this bundle, version 2.0.0 (7), beside the test executable.
const std::string id = SYSEXT_TEST_IDENTIFIER;
const std::string head = "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n";

std::string installed(const std::string& version) {
    return head + "extension " + id + " " + version + " activated enabled\napproved " + id +
           "\nend\n";
}

// Records every answer as "event;", failures with their description, and
// whether all came on the test thread.
class RecordingDelegate final : public platform::SystemExtensionRequestDelegate {
  public:
    void requestDidFinishWithResult(platform::SystemExtensionRequest&,
                                    platform::Result result) override {
        record("finish " + std::to_string(result));
        done = true;
    }
    void requestDidFailWithError(platform::SystemExtensionRequest&,
                                 const platform::Error& error) override {
        record("fail " + error.domain + " " + std::to_string(error.code) + ": " +
               error.localizedDescription);
        done = true;
    }
    void requestNeedsUserApproval(platform::SystemExtensionRequest& request) override {
        record("approval " + request.identifier());
    }
    platform::ReplacementAction requestActionForReplacingExtension(
        platform::SystemExtensionRequest&, const platform::ExtensionProperties& existing,
        const platform::ExtensionProperties& replacement) override {
        record("replace " + existing.bundleShortVersion + " (" + existing.bundleVersion + ") by " +
               replacement.bundleShortVersion + " (" + replacement.bundleVersion + ")");
        return answer;
    }

    platform::ReplacementAction answer = platform::Replacement::replace;
    std::string events;
    bool done = false;
    bool allOnTestThread = true;

  private:
    void record(const std::string& event) {
        allOnTestThread = allOnTestThread && std::this_thread::get_id() == testThread_;
        events += event + ";";
    }
    std::thread::id testThread_ = std::this_thread::get_id();
};

void submit(RecordingDelegate& delegate, platform::RequestKind kind,
            const std::string& identifier = id) {
    auto request = kind == activation
                       ? platform::activationRequestForExtension(identifier, testMainQueue())
                       : platform::deactivationRequestForExtension(identifier, testMainQueue());
    request->setDelegate(&delegate);
    platform::submitRequest(request);
    EXPECT_EQ(delegate.events, "") << "answered before the main queue ran";
}

// Runs the main queue until the condition holds; false when it never did.
template <class Condition>
bool runMainQueueUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        testMainQueue().runPosted();
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

class SubmitRequest : public ::testing::Test {
  protected:
    void TearDown() override {
        // Workers end right after their last answer; none may outlive the scratch state.
        EXPECT_TRUE(
            runMainQueueUntil([] { return ServiceLife::current()->runningWorkers() == 0; }));
    }
    testing::ScratchStateHome home;
};

const std::string fail = "fail OSSystemExtensionErrorDomain ";

// One request to its last answer: the answers, in order, all on the main queue.
std::string answersTo(platform::RequestKind kind, const std::string& identifier = id,
                      platform::ReplacementAction answer = platform::Replacement::replace) {
    RecordingDelegate delegate;
    delegate.answer = answer;
    submit(delegate, kind, identifier);
    EXPECT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    EXPECT_TRUE(delegate.allOnTestThread);
    return delegate.events;
}

TEST_F(SubmitRequest, EachAnswerReachesTheDelegateAndTheStateOnDisk) {
    home.writeStateBytes(installed("3.0 1"));
    EXPECT_THAT(
        answersTo(activation, id, platform::Replacement::cancel),
        StartsWith("replace 3.0 (1) by 2.0.0 (7);" + fail + "11: The request was canceled"));
    EXPECT_EQ(home.stateBytes(), installed("3.0 1"));
    home.writeStateBytes(installed("2.0.0 6"));
    EXPECT_EQ(answersTo(activation), "replace 2.0.0 (6) by 2.0.0 (7);finish 0;");
    EXPECT_EQ(home.stateBytes(), installed("2.0.0 7"));
    EXPECT_EQ(answersTo(activation), "finish 0;");
    EXPECT_EQ(answersTo(deactivation), "finish 0;");
    EXPECT_EQ(home.stateBytes(), head + "approved " + id + "\nend\n");
    EXPECT_THAT(answersTo(deactivation),
                StartsWith(fail + "4: The extension " + id + " is not installed"));
    EXPECT_THAT(answersTo(activation, "org.example.sysext-test.Absent"),
                AllOf(StartsWith(fail + "4: "), HasSubstr("org.example.sysext-test.Absent.dext")));
    home.writeStateBytes("veltrin-sysext-state 1\n");
    EXPECT_THAT(answersTo(activation),
                AllOf(StartsWith(fail + "1: "), HasSubstr("sysextctl reset")));
    EXPECT_EQ(home.stateBytes(), "veltrin-sysext-state 1\n");
    // The gate still answers, from the fresh state's release, and its output stays its own.
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({14, 0, 0}));
    EXPECT_FALSE(platform::isOperatingSystemAtLeastVersion({14, 0, 1}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SubmitRequest, ASecondRequestSupersedesTheWaitingOneAndCompletesOnApproval) {
    RecordingDelegate first;
    RecordingDelegate second;
    submit(first, activation);
    ASSERT_TRUE(runMainQueueUntil([&] { return !first.events.empty(); }));
    submit(second, activation);
    ASSERT_TRUE(runMainQueueUntil([&] { return first.done && !second.events.empty(); }));
    EXPECT_THAT(first.events, StartsWith("approval " + id + ";" + fail + "12: "));
    EXPECT_EQ(second.events, "approval " + id + ";");

    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) { approve(s, id); }));
    ASSERT_TRUE(runMainQueueUntil([&] { return second.done; }));
    EXPECT_EQ(second.events, "approval " + id + ";finish 0;");
    EXPECT_TRUE(first.allOnTestThread && second.allOnTestThread);
    EXPECT_EQ(home.stateBytes(), installed("2.0.0 7"));
}

TEST(ServiceLifeAtExit, StopsPostingAndWakesWaitersAtOnce) {
    ServiceLife life;
    TestMainQueue queue;
    EXPECT_TRUE(life.post(queue, [] {}));
    std::thread waiter([&] { EXPECT_FALSE(life.pause(std::chrono::hours(1))); });
    life.stop();
    waiter.join();
    bool ran = false;
    EXPECT_FALSE(life.post(queue, [&] { ran = true; }));
    queue.runPosted();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace sysext

namespace platform {

DispatchQueue& mainQueue() {
    return sysext::testMainQueue();
}

}  // namespace platform
