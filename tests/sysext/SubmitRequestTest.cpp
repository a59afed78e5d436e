#include <gtest/gtest.h>

#include <thread>

#include "ScratchStateHome.hpp"
#include "ServiceDecisions.hpp"
#include "ServiceErrors.hpp"
#include "ServiceLife.hpp"
#include "TestMainQueue.hpp"
#include "platform/Host.hpp"
#include "platform/SystemExtensions.hpp"

namespace sysext {
namespace {

using namespace std::chrono_literals;
using testing::testMainQueue;

// The build puts this bundle beside the test executable.
const std::string testIdentifier = SYSEXT_TEST_IDENTIFIER;
constexpr auto patience = 10s;

class RecordingDelegate final : public platform::SystemExtensionRequestDelegate {
  public:
    explicit RecordingDelegate(platform::ReplacementAction answer = platform::Replacement::replace)
        : answer_(answer) {}

    void requestDidFinishWithResult(platform::SystemExtensionRequest&,
                                    platform::Result result) override {
        record("finish " + std::to_string(result));
        done = true;
    }
    void requestDidFailWithError(platform::SystemExtensionRequest&,
                                 const platform::Error& error) override {
        record("fail " + error.domain + " " + std::to_string(error.code));
        lastError = error;
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
        return answer_;
    }

    std::vector<std::string> events;
    bool done = false;
    bool allOnTestThread = true;
    platform::Error lastError;

  private:
    void record(std::string event) {
        allOnTestThread = allOnTestThread && std::this_thread::get_id() == testThread_;
        events.push_back(std::move(event));
    }
    platform::ReplacementAction answer_;
    std::thread::id testThread_ = std::this_thread::get_id();
};

std::shared_ptr<platform::SystemExtensionRequest> submit(
    platform::RequestKind kind, platform::SystemExtensionRequestDelegate& delegate,
    const std::string& identifier = testIdentifier) {
    auto request =
        kind == platform::RequestKind::activation
            ? platform::activationRequestForExtension(identifier, platform::mainQueue())
            : platform::deactivationRequestForExtension(identifier, platform::mainQueue());
    request->setDelegate(&delegate);
    platform::submitRequest(request);
    return request;
}

// Runs the main queue until the condition holds; false when it never did.
template <class Condition>
bool runMainQueueUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        testMainQueue().runNext(50ms);
    }
    return true;
}

class SubmitRequest : public ::testing::Test {
  protected:
    void TearDown() override {
        // Workers end right after their last answer; none may outlive the scratch state.
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (ServiceLife::current()->runningWorkers() > 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        EXPECT_EQ(ServiceLife::current()->runningWorkers(), 0u);
    }

    void install(BundleVersion version) {
        ASSERT_FALSE(home.store().updateWith([&](ServiceState& s) {
            s.approved.insert(testIdentifier);
            s.extensions[testIdentifier].live =
                LiveExtension{std::move(version), LiveState::activatedEnabled};
        }));
    }

    LiveExtension installed() {
        auto state = home.store().read();
        EXPECT_TRUE(state);
        return state->extensions[testIdentifier].live.value_or(LiveExtension{});
    }

    testing::ScratchStateHome home;
};

TEST_F(SubmitRequest, ReturnsAtOnceAndAnswersOnlyOnTheMainQueue) {
    install({"2.0.0", "7"});
    RecordingDelegate delegate;
    submit(platform::RequestKind::activation, delegate);
    EXPECT_TRUE(delegate.events.empty());
    ASSERT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    EXPECT_TRUE(delegate.allOnTestThread);
}

TEST_F(SubmitRequest, ANewExtensionWaitsForApprovalThenCompletes) {
    RecordingDelegate delegate;
    submit(platform::RequestKind::activation, delegate);
    ASSERT_TRUE(runMainQueueUntil([&] { return !delegate.events.empty(); }));
    EXPECT_EQ(delegate.events, std::vector<std::string>{"approval " + testIdentifier});

    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) { approve(s, testIdentifier); }));
    ASSERT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"approval " + testIdentifier, "finish 0"}));
    EXPECT_TRUE(delegate.allOnTestThread);
    EXPECT_EQ(installed(), (LiveExtension{{"2.0.0", "7"}, LiveState::activatedEnabled}));
}

TEST_F(SubmitRequest, AnotherVersionIsReplacedOnTheDelegatesWord) {
    install({"2.0.0", "6"});
    RecordingDelegate delegate(platform::Replacement::replace);
    submit(platform::RequestKind::activation, delegate);
    ASSERT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"replace 2.0.0 (6) by 2.0.0 (7)", "finish 0"}));
    EXPECT_TRUE(delegate.allOnTestThread);
    EXPECT_EQ(installed().version, (BundleVersion{"2.0.0", "7"}));
}

TEST_F(SubmitRequest, DecliningTheReplacementCancelsTheRequest) {
    install({"3.0", "1"});
    RecordingDelegate delegate(platform::Replacement::cancel);
    submit(platform::RequestKind::activation, delegate);
    ASSERT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"replace 3.0 (1) by 2.0.0 (7)",
                                                         "fail OSSystemExtensionErrorDomain 11"}));
    EXPECT_EQ(installed().version, (BundleVersion{"3.0", "1"}));
}

TEST_F(SubmitRequest, AMissingBundleFailsAndSaysWhereItWasLookedFor) {
    RecordingDelegate delegate;
    submit(platform::RequestKind::activation, delegate, "org.example.sysext-test.Absent");
    ASSERT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    EXPECT_EQ(delegate.events, std::vector<std::string>{"fail OSSystemExtensionErrorDomain 4"});
    EXPECT_NE(delegate.lastError.localizedDescription.find("org.example.sysext-test.Absent.dext"),
              std::string::npos);
}

TEST_F(SubmitRequest, ASecondRequestSupersedesTheOneWaitingForApproval) {
    RecordingDelegate first;
    RecordingDelegate second;
    submit(platform::RequestKind::activation, first);
    ASSERT_TRUE(runMainQueueUntil([&] { return !first.events.empty(); }));
    submit(platform::RequestKind::activation, second);
    ASSERT_TRUE(runMainQueueUntil([&] { return first.done && !second.events.empty(); }));
    EXPECT_EQ(first.events.back(), "fail OSSystemExtensionErrorDomain 12");
    EXPECT_EQ(second.events, std::vector<std::string>{"approval " + testIdentifier});

    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) { approve(s, testIdentifier); }));
    ASSERT_TRUE(runMainQueueUntil([&] { return second.done; }));
    EXPECT_EQ(second.events.back(), "finish 0");
}

TEST_F(SubmitRequest, DeactivationRemovesOrFailsWhenNothingIsInstalled) {
    RecordingDelegate nothing;
    submit(platform::RequestKind::deactivation, nothing);
    ASSERT_TRUE(runMainQueueUntil([&] { return nothing.done; }));
    EXPECT_EQ(nothing.events, std::vector<std::string>{"fail OSSystemExtensionErrorDomain 4"});

    install({"2.0.0", "7"});
    RecordingDelegate removal;
    submit(platform::RequestKind::deactivation, removal);
    ASSERT_TRUE(runMainQueueUntil([&] { return removal.done; }));
    EXPECT_EQ(removal.events, std::vector<std::string>{"finish 0"});
}

TEST_F(SubmitRequest, ADamagedStateFailsTheRequestAndIsLeftAlone) {
    home.writeStateBytes("veltrin-sysext-state 1\n");
    RecordingDelegate delegate;
    submit(platform::RequestKind::activation, delegate);
    ASSERT_TRUE(runMainQueueUntil([&] { return delegate.done; }));
    EXPECT_EQ(delegate.events, std::vector<std::string>{"fail OSSystemExtensionErrorDomain 1"});
    EXPECT_NE(delegate.lastError.localizedDescription.find("sysextctl reset"), std::string::npos);
    EXPECT_EQ(home.stateBytes(), "veltrin-sysext-state 1\n");
}

TEST_F(SubmitRequest, TheReleaseGateReadsTheSimulatedRelease) {
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({13, 0, 0}));
    ASSERT_FALSE(home.store().updateWith([](ServiceState& s) { s.release = Release{12, 7, 6}; }));
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({12, 0, 0}));
    EXPECT_FALSE(platform::isOperatingSystemAtLeastVersion({13, 0, 0}));
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({12, 7, 6}));
    EXPECT_FALSE(platform::isOperatingSystemAtLeastVersion({12, 7, 7}));
}

TEST(ServiceLifeAtExit, StopsPostingAndWakesWaitersAtOnce) {
    ServiceLife life;
    testing::TestMainQueue queue;
    EXPECT_TRUE(life.post(queue, [] {}));
    std::thread waiter([&] { EXPECT_FALSE(life.pause(std::chrono::hours(1))); });
    life.stop();
    waiter.join();
    bool ran = false;
    EXPECT_FALSE(life.post(queue, [&] { ran = true; }));
    while (queue.runNext(0ms)) {
    }
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace sysext
