#include <gtest/gtest.h>

#include "ServiceDecisions.hpp"
#include "ServiceErrors.hpp"

namespace sysext {
namespace {

const std::string id = "com.example.driver";
const DextBundle offered{id, {"2.0.0", "5"}};

ServiceState withInstalled(BundleVersion version, LiveState live = LiveState::activatedEnabled) {
    ServiceState state;
    state.approved.insert(id);
    state.extensions[id].live = LiveExtension{std::move(version), live};
    return state;
}

platform::Result finished(const Step& step) {
    const auto* finish = std::get_if<Finish>(&step);
    EXPECT_NE(finish, nullptr) << "step is not a finish";
    return finish ? finish->result : -99;
}

platform::Error failed(const Step& step) {
    const auto* fail = std::get_if<Fail>(&step);
    EXPECT_NE(fail, nullptr) << "step is not a failure";
    return fail ? fail->error : platform::Error{};
}

bool mentions(const platform::Error& error, const std::string& text) {
    return error.localizedDescription.find(text) != std::string::npos;
}

TEST(ActivationOfANewExtension, WaitsForApprovalThenCompletes) {
    ServiceState state;
    EXPECT_TRUE(std::holds_alternative<AwaitApproval>(beginActivation(state, offered, "t1")));
    EXPECT_EQ(state.extensions[id].live->state, LiveState::activatedWaitingForUser);
    EXPECT_EQ(state.pendingApprovals[id], "t1");

    EXPECT_FALSE(checkApproval(state, id, "t1")) << "decided before the user did";

    approve(state, id);
    EXPECT_EQ(state.extensions[id].live->state, LiveState::activatedEnabled);
    const auto decided = checkApproval(state, id, "t1");
    ASSERT_TRUE(decided);
    EXPECT_EQ(finished(*decided), platform::RequestResult::completed);
    EXPECT_FALSE(state.pendingApprovals.contains(id));
    EXPECT_EQ(state.extensions[id].live->version, offered.version);
}

TEST(ActivationOfANewExtension, CompletesAtOnceWhenAlreadyApproved) {
    ServiceState state;
    state.approved.insert(id);
    EXPECT_EQ(finished(beginActivation(state, offered, "t1")), platform::RequestResult::completed);
    EXPECT_EQ(state.extensions[id].live,
              (LiveExtension{offered.version, LiveState::activatedEnabled}));
    EXPECT_TRUE(state.pendingApprovals.empty());
}

TEST(ActivationOfANewExtension, ALaterRequestSupersedesTheWaitingOne) {
    ServiceState state;
    beginActivation(state, offered, "first");
    beginActivation(state, offered, "second");
    const auto older = checkApproval(state, id, "first");
    ASSERT_TRUE(older);
    EXPECT_EQ(failed(*older).code, ErrorCode::requestSuperseded);
    EXPECT_EQ(failed(*older).domain, "OSSystemExtensionErrorDomain");
    EXPECT_FALSE(checkApproval(state, id, "second")) << "the newer one still waits";
}

TEST(ActivationOfANewExtension, FailsIfDeniedOrRemovedWhileWaiting) {
    ServiceState denied;
    beginActivation(denied, offered, "t1");
    denied.policies[id] = Policy::deny;
    const auto refused = checkApproval(denied, id, "t1");
    ASSERT_TRUE(refused);
    EXPECT_EQ(failed(*refused).code, ErrorCode::forbiddenBySystemPolicy);
    EXPECT_FALSE(denied.extensions.contains(id)) << "a refused extension stays listed";

    ServiceState removed;
    beginActivation(removed, offered, "t1");
    EXPECT_EQ(finished(beginDeactivation(removed, id)), platform::RequestResult::completed);
    const auto canceled = checkApproval(removed, id, "t1");
    ASSERT_TRUE(canceled);
    EXPECT_EQ(failed(*canceled).code, ErrorCode::requestCanceled);
}

TEST(ActivationOfANewExtension, IsForbiddenByADenyPolicyWithAWayOut) {
    ServiceState state;
    state.policies[id] = Policy::deny;
    const ServiceState before = state;
    const auto error = failed(beginActivation(state, offered, "t1"));
    EXPECT_EQ(error.code, ErrorCode::forbiddenBySystemPolicy);
    EXPECT_TRUE(mentions(error, "sysextctl policy " + id + " allow"));
    EXPECT_EQ(state, before);
}

TEST(ActivationOfTheInstalledVersion, CompletesWithoutAskingAboutReplacement) {
    ServiceState state = withInstalled(offered.version);
    const ServiceState before = state;
    EXPECT_EQ(finished(beginActivation(state, offered, "t1")), platform::RequestResult::completed);
    EXPECT_EQ(state, before);
}

TEST(ActivationOfTheInstalledVersion, AsksEveryTimeInDeveloperMode) {
    ServiceState state = withInstalled(offered.version);
    state.developerMode = true;
    EXPECT_TRUE(std::holds_alternative<AskReplacement>(beginActivation(state, offered, "t1")));
}

TEST(ActivationOfTheInstalledVersion, StillWaitsForTheRestartThatBringsItIn) {
    ServiceState state = withInstalled(offered.version, LiveState::activatedWaitingForReboot);
    EXPECT_EQ(finished(beginActivation(state, offered, "t1")),
              platform::RequestResult::willCompleteAfterReboot);
}

class ActivationOverAnotherVersion : public ::testing::TestWithParam<BundleVersion> {};

TEST_P(ActivationOverAnotherVersion, OffersBothVersionsForReplacement) {
    ServiceState state = withInstalled(GetParam());
    const Step step = beginActivation(state, offered, "t1");
    const auto* ask = std::get_if<AskReplacement>(&step);
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->existing.bundleIdentifier, id);
    EXPECT_EQ(ask->existing.bundleShortVersion, GetParam().shortVersion);
    EXPECT_EQ(ask->existing.bundleVersion, GetParam().build);
    EXPECT_EQ(ask->offered.bundleShortVersion, "2.0.0");
    EXPECT_EQ(ask->offered.bundleVersion, "5");
}

INSTANTIATE_TEST_SUITE_P(OlderNewerOrOtherBuild, ActivationOverAnotherVersion,
                         ::testing::Values(BundleVersion{"1.9.0", "5"}, BundleVersion{"3.0", "1"},
                                           BundleVersion{"2.0.0", "4"}));

TEST(Replacement, ReplacesAtOnceWhenNotInUse) {
    ServiceState state = withInstalled({"1.0.0", "1"});
    EXPECT_EQ(finished(answerReplacement(state, offered, platform::Replacement::replace)),
              platform::RequestResult::completed);
    EXPECT_EQ(state.extensions[id].live,
              (LiveExtension{offered.version, LiveState::activatedEnabled}));
    EXPECT_FALSE(state.extensions[id].uninstallingOnReboot);
}

TEST(Replacement, WaitsForTheRestartWhileBusyAndTheRestartCompletesIt) {
    ServiceState state = withInstalled({"1.0.0", "1"});
    state.busy.insert(id);
    EXPECT_EQ(finished(answerReplacement(state, offered, platform::Replacement::replace)),
              platform::RequestResult::willCompleteAfterReboot);
    EXPECT_EQ(state.extensions[id].uninstallingOnReboot, (BundleVersion{"1.0.0", "1"}));
    EXPECT_EQ(state.extensions[id].live->state, LiveState::activatedWaitingForReboot);

    reboot(state);
    EXPECT_FALSE(state.extensions[id].uninstallingOnReboot);
    EXPECT_EQ(state.extensions[id].live,
              (LiveExtension{offered.version, LiveState::activatedEnabled}));
    EXPECT_TRUE(state.busy.empty());
}

TEST(Replacement, AnyAnswerButReplaceCancelsAndChangesNothing) {
    for (const platform::ReplacementAction answer :
         {platform::Replacement::cancel, std::int64_t{2}, std::int64_t{-1}, INT64_MIN}) {
        ServiceState state = withInstalled({"1.0.0", "1"});
        const ServiceState before = state;
        const auto error = failed(answerReplacement(state, offered, answer));
        EXPECT_EQ(error.code, ErrorCode::requestCanceled) << answer;
        EXPECT_TRUE(mentions(error, "canceled"));
        EXPECT_EQ(state, before);
    }
}

TEST(Deactivation, RemovesAnIdleExtension) {
    ServiceState state = withInstalled({"1.0.0", "1"});
    EXPECT_EQ(finished(beginDeactivation(state, id)), platform::RequestResult::completed);
    EXPECT_FALSE(state.extensions.contains(id));
    EXPECT_TRUE(state.approved.contains(id)) << "the user's approval outlives the extension";
}

TEST(Deactivation, OfABusyExtensionWaitsForTheRestart) {
    ServiceState state = withInstalled({"1.0.0", "1"});
    state.busy.insert(id);
    EXPECT_EQ(finished(beginDeactivation(state, id)),
              platform::RequestResult::willCompleteAfterReboot);
    EXPECT_FALSE(state.extensions[id].live);
    EXPECT_EQ(state.extensions[id].uninstallingOnReboot, (BundleVersion{"1.0.0", "1"}));

    reboot(state);
    EXPECT_FALSE(state.extensions.contains(id));
}

TEST(Deactivation, OfNothingInstalledFailsAndSaysSo) {
    ServiceState empty;
    const auto error = failed(beginDeactivation(empty, id));
    EXPECT_EQ(error.code, ErrorCode::extensionNotFound);
    EXPECT_TRUE(mentions(error, id + " is not installed"));

    // A version only waiting to go at the restart is no longer installed.
    ServiceState leaving = withInstalled({"1.0.0", "1"});
    leaving.busy.insert(id);
    beginDeactivation(leaving, id);
    EXPECT_EQ(failed(beginDeactivation(leaving, id)).code, ErrorCode::extensionNotFound);
}

}  // namespace
}  // namespace sysext
