// What the service does with a request, as plain functions from the state to the
// next step, changing the state they are given. Threads and files stay outside.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "DextBundle.hpp"
#include "ServiceState.hpp"
#include "platform/SystemExtensions.hpp"

namespace sysext {

struct Finish {
    platform::Result result;
};
struct Fail {
    platform::Error error;
};
// Tell the delegate, then wait for `sysextctl approve`.
struct AwaitApproval {};
struct AskReplacement {
    platform::ExtensionProperties existing;
    platform::ExtensionProperties offered;
};
// The answer to a properties request.
struct Found {
    std::vector<platform::ExtensionProperties> versions;
};
using Step = std::variant<Finish, Fail, AwaitApproval, AskReplacement, Found>;

// `token` names this request in the state so that a later one can supersede it.
Step beginActivation(ServiceState& state, const DextBundle& offered, const std::string& token);

// The answer to AskReplacement.
Step answerReplacement(ServiceState& state, const DextBundle& offered,
                       platform::ReplacementAction action);

// Called while AwaitApproval lasts; nothing while the user has not decided yet.
std::optional<Step> checkApproval(ServiceState& state, const std::string& identifier,
                                  const std::string& token);

Step beginDeactivation(ServiceState& state, const std::string& identifier);

// Every version the service keeps of the extension: the one in service, then the
// one that goes at the next restart. A version that comes in at the restart is
// neither enabled, nor awaiting approval, nor uninstalling.
Found findProperties(const ServiceState& state, const std::string& identifier);

// What `sysextctl fail` asked for: the next request for the extension, of any
// kind, fails with that code (once).
std::optional<Fail> takeFailureOnDemand(ServiceState& state, const std::string& identifier);

// A launcher that ended while its request waited leaves a record that nobody will
// ever answer; it would outlive every later install. A token begins with the id of
// the process that made the request, so a record is kept only while that runs.
void forgetAbandonedApprovals(ServiceState& state);

// What a restart completes: uninstalls that waited, upgrades that waited; nothing
// is in use any more afterwards.
void reboot(ServiceState& state);

// What `sysextctl approve` does besides remembering the approval: an extension
// that was only waiting for it goes into service, whether or not its request
// still waits.
void approve(ServiceState& state, const std::string& identifier);

// Where a person gives that approval: a line for standard error.
std::string approvalHint(std::string_view identifier);

}  // namespace sysext
