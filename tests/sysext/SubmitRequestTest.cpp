// Requests answered by worker threads: every answer reaches the delegate on its
// queue, in order, and the state on disk says what was decided. The decisions
// have their own table, and the real launcher meets every kind of answer end to
// end; this is the plumbing between them, also for the thread sanitizer.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "ScratchStateHome.hpp"
#include "ServiceLife.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Host.hpp"
#include "platform/SystemExtensions.hpp"

// Work posted from any thread waits until the test thread runs it, as the
// application's main loop would.
class platform::DispatchQueue {
  public:
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
};

void platform::dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    const std::lock_guard lock(queue.mutex);
    queue.posted.push_back(std::move(work));
}

namespace sysext {
namespace {

using platform::SystemExtensionRequest;

// Records every answer as "event;"; each must come on the test thread.
class RecordingDelegate final : public platform::SystemExtensionRequestDelegate {
  public:
    void requestDidFinishWithResult(SystemExtensionRequest&, platform::Result result) override {
        record("finish " + std::to_string(result));
    }
    void requestDidFailWithError(SystemExtensionRequest&, const platform::Error& error) override {
        record("fail " + std::to_string(error.code) + " " + error.localizedDescription);
    }
    void requestNeedsUserApproval(SystemExtensionRequest&) override { record("approval"); }
    platform::ReplacementAction requestActionForReplacingExtension(
        SystemExtensionRequest&, const platform::ExtensionProperties& existing,
        const platform::ExtensionProperties& offered) override {
        record("replace " + existing.bundleVersion + " by " + offered.bundleVersion);
        return platform::Replacement::replace;
    }
    void record(const std::string& event) {
        EXPECT_EQ(std::this_thread::get_id(), testThread);
        events += event + ";";
    }

    std::thread::id testThread = std::this_thread::get_id();
    std::string events;
};

// The build puts the bundle, version 2.0.0 (7), beside the test executable.
const std::string id = SYSEXT_TEST_IDENTIFIER;

// One request to its last answer, none before the test thread runs the queue.
// Nothing the queue runs posts or waits for a poster.
std::string answers(const std::string& identifier = id) {
    RecordingDelegate delegate;
    platform::DispatchQueue queue;
    auto request = platform::activationRequestForExtension(identifier, queue);
    request->setDelegate(&delegate);
    platform::submitRequest(request);
    EXPECT_EQ(delegate.events, "");
    // Until the worker let go of the request and nothing posted holds it: the
    // worker ends after its last answer, and every answer carries the request.
    for (int wait = 0; wait < 10000 && request.use_count() > 1; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::lock_guard lock(queue.mutex);
        for (const auto& work : std::exchange(queue.posted, {})) {
            work();
        }
    }
    EXPECT_EQ(request.use_count(), 1) << "a worker outlived its last answer";
    return delegate.events;
}

std::string installed(const std::string& build) {
    return "veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\nextension " + id + " 2.0.0 " +
           build + " activated enabled\napproved " + id + "\nend\n";
}

TEST(SubmitRequest, EachAnswerReachesTheDelegateAndTheStateOnDisk) {
    const testing::ScratchStateHome home;
    home.writeStateBytes(installed("6"));
    EXPECT_EQ(answers(), "replace 6 by 7;finish 0;");
    EXPECT_EQ(home.stateBytes(), installed("7"));
    EXPECT_TRUE(
        answers(id + "x").starts_with("fail 4 The driver extension " + id + "x was not found"));
    // A damaged state fails the request and stays as it is; the gate still answers,
    // from a fresh state's release, and its output stays its own.
    home.writeStateBytes("veltrin-sysext-state 1\n");
    EXPECT_TRUE(answers().starts_with("fail 1 The system extension state"));
    EXPECT_EQ(home.stateBytes(), "veltrin-sysext-state 1\n");
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({14, 0, 0}));
    EXPECT_FALSE(platform::isOperatingSystemAtLeastVersion({14, 0, 1}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Once the process exits, a worker waits no longer and posts nothing, so that exit
// never waits for one, nor one posts to a queue being destroyed.
TEST(ServiceLifeAtExit, StopsWaitsAndPosts) {
    ServiceLife life;
    platform::DispatchQueue queue;
    life.stop();
    EXPECT_FALSE(life.pause(std::chrono::hours(1)) || life.post(queue, [] {}));
}

}  // namespace
}  // namespace sysext
