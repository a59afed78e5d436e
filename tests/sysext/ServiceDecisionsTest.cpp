// The service's answers, decided on a state in memory: a state given as the
// records of its file, a script of requests and restarts, the steps taken and
// the whole state afterwards. What the failures say, the end-to-end cases and
// the load test read: a denial by policy, a removal of nothing, a request
// canceled or superseded.
#include <gtest/gtest.h>

#include <sstream>

#include "ServiceDecisions.hpp"
#include "StateFormat.hpp"

namespace sysext {
namespace {

const std::string id = "com.a.b";
const DextBundle offered{id, {"2.0.0", "5"}};

// A state given as the records of its file; a script of "activate T", "check T",
// "approve", "deny", "answer N" (1 replaces), "deactivate", "reboot", "prune" (what
// the next request forgets first), "failure" (the one `sysextctl fail` asked for,
// if any) and "properties", each ended by ";"; the steps taken ("await;",
// "undecided;", "finish R;", "fail CODE;", "ask OLD by NEW;", "found VERSIONS;");
// the state afterwards.
struct Case {
    const char* name;
    std::string before;
    std::string script;
    std::string steps;
    std::string after;
};

std::string version(const platform::ExtensionProperties& p) {
    EXPECT_EQ(p.bundleIdentifier, id);
    return " " + p.bundleShortVersion + " (" + p.bundleVersion + ")" +
           (p.isEnabled ? " enabled" : "") + (p.isAwaitingUserApproval ? " awaiting" : "") +
           (p.isUninstalling ? " uninstalling" : "");
}

std::string text(const std::optional<Step>& step) {
    if (!step) {
        return "undecided;";
    }
    if (const auto* finish = std::get_if<Finish>(&*step)) {
        return "finish " + std::to_string(finish->result) + ";";
    }
    if (const auto* fail = std::get_if<Fail>(&*step)) {
        EXPECT_EQ(fail->error.domain, "OSSystemExtensionErrorDomain");
        return "fail " + std::to_string(fail->error.code) + ";";
    }
    if (const auto* ask = std::get_if<AskReplacement>(&*step)) {
        return "ask" + version(ask->existing) + " by" + version(ask->offered) + ";";
    }
    if (std::holds_alternative<AwaitApproval>(*step)) {
        return "await;";
    }
    std::string found = "found";
    for (const auto& properties : std::get<Found>(*step).versions) {
        found += version(properties);
    }
    return found + ";";
}

// The state file holding `records`, developer mode off unless they say otherwise.
std::string stateFile(const std::string& records) {
    const bool developer = records.starts_with("developer");
    return "veltrin-sysext-state 1\nrelease 14.0.0\n" +
           std::string(developer ? "" : "developer off\n") + records + "end\n";
}

class Decisions : public ::testing::TestWithParam<Case> {};

TEST_P(Decisions, TakeTheseStepsAndLeaveThisState) {
    const Case& c = GetParam();
    auto state = parseState(stateFile(c.before));
    ASSERT_TRUE(state) << state.error().message;
    std::string steps;
    std::istringstream script(c.script);
    for (std::string verb, argument; std::getline(script >> std::ws, verb, ';');) {
        std::istringstream words(verb);
        words >> verb >> argument;
        if (verb == "activate") {
            steps += text(beginActivation(*state, offered, argument));
        } else if (verb == "check") {
            steps += text(checkApproval(*state, id, argument));
        } else if (verb == "answer") {
            steps += text(answerReplacement(*state, offered, std::stoll(argument)));
        } else if (verb == "deactivate") {
            steps += text(beginDeactivation(*state, id));
        } else if (verb == "failure") {
            const auto fail = takeFailureOnDemand(*state, id);
            steps += text(fail ? std::optional<Step>(*fail) : std::nullopt);
        } else if (verb == "approve") {
            approve(*state, id);
        } else if (verb == "deny") {
            state->policies[id] = Policy::deny;
        } else if (verb == "properties") {
            steps += text(findProperties(*state, id));
        } else if (verb == "prune") {
            forgetAbandonedApprovals(*state);
        } else {
            ASSERT_EQ(verb, "reboot");
            reboot(*state);
        }
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(serializeState(*state), stateFile(c.after));
}

const std::string enabled = "extension com.a.b 2.0.0 5 activated enabled\napproved com.a.b\n";
const std::string waiting = "extension com.a.b 2.0.0 5 activated waiting for user\n";
const std::string older = "extension com.a.b 1.0.0 1 activated enabled\napproved com.a.b\n";
const std::string olderBusy = older + "busy com.a.b\n";
const std::string leaving =
    "extension com.a.b 1.0.0 1 terminated waiting to uninstall on reboot\n"
    "approved com.a.b\nbusy com.a.b\n";

INSTANTIATE_TEST_SUITE_P(
    Service, Decisions,
    ::testing::Values(
        Case{"NewCompletesOnceApprovedThenTheSameVersionAtOnce", "",
             "activate t1; check t1; approve; check t1; activate t2;",
             "await;undecided;finish 0;finish 0;", enabled},
        Case{"LaterRequestSupersedesThenADenialEndsIt", "",
             "activate t1; activate t2; check t1; deny; check t2;", "await;await;fail 12;fail 10;",
             "policy com.a.b deny\n"},
        // A request that completes settles an older one still recorded as waiting.
        Case{"CompletedRequestSettlesTheOneStillWaiting", "",
             "activate t1; approve; activate t2; check t1;", "await;finish 0;fail 12;", enabled},
        Case{"ApprovedRequestSettlesTheOneStillWaiting",
             "approved com.a.b\n" + waiting + "pending com.a.b t1\n", "activate t2;", "finish 0;",
             enabled},
        Case{"ReplacementSettlesTheOneStillWaiting", older + "pending com.a.b t1\n",
             "activate t2; answer 1;", "ask 1.0.0 (1) by 2.0.0 (5);finish 0;", enabled},
        // Process 1 always runs; none has a number as large as 99999999.
        Case{"NextRequestForgetsWhatWaitsForAProcessThatEnded",
             "pending com.c.d 99999999-1-7\npending com.e.f 1-1-7\n", "prune; activate t1;",
             "await;", waiting + "pending com.a.b t1\npending com.e.f 1-1-7\n"},
        // Removed while waiting: the Window case end to end.
        Case{"PropertiesFollowTheApproval", "",
             "activate t1; properties; approve; properties; deactivate; properties;",
             "await;found 2.0.0 (5) awaiting;found 2.0.0 (5) enabled;finish 0;found;",
             "approved com.a.b\n"},
        Case{"SameVersionAsksInDeveloperMode", "developer on\n" + enabled, "activate t1;",
             "ask 2.0.0 (5) by 2.0.0 (5);", "developer on\n" + enabled},
        // In use, the old version goes and the new one comes in at the restart; what
        // waits for the restart is not asked again; the approval outlives the extension.
        Case{"ReplaceBusyThenRestartThenRemove", olderBusy,
             "answer 1; activate t1; properties; reboot; deactivate;",
             "finish 1;finish 1;found 2.0.0 (5) 1.0.0 (1) uninstalling;finish 0;",
             "approved com.a.b\n"},
        // A version only waiting to go at the restart is no longer installed.
        Case{"AnyAnswerButReplaceCancelsThenRemovalWaitsForTheRestart", olderBusy,
             "answer 0; answer 2; answer -1; answer -9223372036854775808; deactivate; deactivate;",
             "fail 11;fail 11;fail 11;fail 11;finish 1;fail 4;", leaving},
        Case{"FailureOnDemandOnce", enabled + "fail com.a.b 13\n", "failure; failure;",
             "fail 13;undecided;", enabled}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace sysext
