#include "ServiceDecisions.hpp"

#include <cerrno>
#include <csignal>

#include "ServiceErrors.hpp"

namespace sysext {

namespace {

// Also one of another user's (EPERM).
bool processIsRunning(long processId) {
    return ::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

bool isDenied(const ServiceState& state, const std::string& identifier) {
    const auto policy = state.policies.find(identifier);
    return policy != state.policies.end() && policy->second == Policy::deny;
}

Fail forbidden(const std::string& identifier) {
    return Fail{serviceError(ErrorCode::forbiddenBySystemPolicy,
                             "System policy forbids the extension " + identifier +
                                 ". Allow it with \"sysextctl policy " + identifier +
                                 " allow\" and try again.")};
}

std::string versionText(const BundleVersion& version) {
    return version.shortVersion + " (" + version.build + ")";
}

// The slot in service once it runs, or will run after a restart; a version that
// waits for approval is not installed yet, so it offers nothing to replace.
const LiveExtension* installedVersion(const ServiceState& state, const std::string& identifier) {
    const auto slots = state.extensions.find(identifier);
    if (slots == state.extensions.end() || !slots->second.live ||
        slots->second.live->state == LiveState::activatedWaitingForUser) {
        return nullptr;
    }
    return &*slots->second.live;
}

void dropIfEmpty(ServiceState& state, const std::string& identifier) {
    const auto slots = state.extensions.find(identifier);
    if (slots != state.extensions.end() && slots->second.empty()) {
        state.extensions.erase(slots);
    }
}

// A request that completes settles its extension, so an older one still
// recorded as waiting, perhaps of a launcher long gone, is over too.
Finish settle(ServiceState& state, const std::string& identifier, platform::Result result) {
    state.pendingApprovals.erase(identifier);
    return Finish{result};
}

}  // namespace

Step beginActivation(ServiceState& state, const DextBundle& offered, const std::string& token) {
    const std::string& identifier = offered.identifier;
    if (isDenied(state, identifier)) {
        return forbidden(identifier);
    }
    if (const LiveExtension* installed = installedVersion(state, identifier)) {
        if (installed->version == offered.version && !state.developerMode) {
            return settle(state, identifier,
                          installed->state == LiveState::activatedWaitingForReboot
                              ? platform::RequestResult::willCompleteAfterReboot
                              : platform::RequestResult::completed);
        }
        return AskReplacement{propertiesOf(identifier, installed->version),
                              propertiesOf(identifier, offered.version)};
    }
    ExtensionSlots& slots = state.extensions[identifier];
    if (state.approved.contains(identifier)) {
        slots.live = LiveExtension{offered.version, LiveState::activatedEnabled};
        return settle(state, identifier, platform::RequestResult::completed);
    }
    slots.live = LiveExtension{offered.version, LiveState::activatedWaitingForUser};
    state.pendingApprovals[identifier] = token;
    return AwaitApproval{};
}

Step answerReplacement(ServiceState& state, const DextBundle& offered,
                       platform::ReplacementAction action) {
    const std::string& identifier = offered.identifier;
    if (action != platform::Replacement::replace) {
        return Fail{
            serviceError(ErrorCode::requestCanceled,
                         "The request was canceled: the application declined to replace the "
                         "installed version of " +
                             identifier + " by version " + versionText(offered.version) + ".")};
    }
    ExtensionSlots& slots = state.extensions[identifier];
    if (!state.busy.contains(identifier)) {
        slots.uninstallingOnReboot.reset();
        slots.live = LiveExtension{offered.version, LiveState::activatedEnabled};
        return settle(state, identifier, platform::RequestResult::completed);
    }
    // The running version cannot stop while in use; it goes at the restart, and
    // the new one comes in with it.
    if (slots.live && slots.live->state == LiveState::activatedEnabled) {
        slots.uninstallingOnReboot = slots.live->version;
    }
    slots.live = LiveExtension{offered.version, LiveState::activatedWaitingForReboot};
    return settle(state, identifier, platform::RequestResult::willCompleteAfterReboot);
}

std::optional<Step> checkApproval(ServiceState& state, const std::string& identifier,
                                  const std::string& token) {
    const auto pending = state.pendingApprovals.find(identifier);
    if (pending == state.pendingApprovals.end()) {
        if (installedVersion(state, identifier)) {
            return Fail{serviceError(ErrorCode::requestSuperseded,
                                     "The request for " + identifier +
                                         " was superseded by a newer request for the same "
                                         "extension that completed while it waited for approval.")};
        }
        return Fail{serviceError(ErrorCode::requestCanceled,
                                 "The request for " + identifier +
                                     " was canceled while it waited for approval: the extension "
                                     "was removed or the service was reset.")};
    }
    if (pending->second != token) {
        return Fail{serviceError(ErrorCode::requestSuperseded,
                                 "The request for " + identifier +
                                     " was superseded by a newer request for the same extension "
                                     "while it waited for approval.")};
    }
    if (isDenied(state, identifier)) {
        state.pendingApprovals.erase(pending);
        auto& slots = state.extensions[identifier];
        if (slots.live && slots.live->state == LiveState::activatedWaitingForUser) {
            slots.live.reset();
        }
        dropIfEmpty(state, identifier);
        return forbidden(identifier);
    }
    if (!state.approved.contains(identifier)) {
        return std::nullopt;
    }
    state.pendingApprovals.erase(pending);
    approve(state, identifier);
    return Finish{platform::RequestResult::completed};
}

Step beginDeactivation(ServiceState& state, const std::string& identifier) {
    const auto slots = state.extensions.find(identifier);
    if (slots == state.extensions.end() || !slots->second.live) {
        return Fail{serviceError(ErrorCode::extensionNotFound,
                                 "The extension " + identifier +
                                     " is not installed, so there is nothing to deactivate "
                                     "(\"sysextctl list\" shows what is installed).")};
    }
    state.pendingApprovals.erase(identifier);
    LiveExtension& live = *slots->second.live;
    const bool running = live.state != LiveState::activatedWaitingForUser;
    if (running && state.busy.contains(identifier)) {
        if (live.state == LiveState::activatedEnabled) {
            slots->second.uninstallingOnReboot = live.version;
        }
        slots->second.live.reset();
        return Finish{platform::RequestResult::willCompleteAfterReboot};
    }
    state.extensions.erase(slots);
    return Finish{platform::RequestResult::completed};
}

Found findProperties(const ServiceState& state, const std::string& identifier) {
    Found found;
    const auto slots = state.extensions.find(identifier);
    if (slots == state.extensions.end()) {
        return found;
    }
    if (const auto& live = slots->second.live) {
        found.versions.push_back(propertiesOf(identifier, live->version));
        found.versions.back().isEnabled = live->state == LiveState::activatedEnabled;
        found.versions.back().isAwaitingUserApproval =
            live->state == LiveState::activatedWaitingForUser;
    }
    if (const auto& leaving = slots->second.uninstallingOnReboot) {
        found.versions.push_back(propertiesOf(identifier, *leaving));
        found.versions.back().isUninstalling = true;
    }
    return found;
}

std::optional<Fail> takeFailureOnDemand(ServiceState& state, const std::string& identifier) {
    const auto code = state.failNext.find(identifier);
    if (code == state.failNext.end()) {
        return std::nullopt;
    }
    Fail fail{serviceError(code->second, "The request for " + identifier + " failed with code " +
                                             std::to_string(code->second) +
                                             ", as \"sysextctl fail\" asked.")};
    state.failNext.erase(code);
    return fail;
}

void forgetAbandonedApprovals(ServiceState& state) {
    std::erase_if(state.pendingApprovals, [&](const auto& pending) {
        const std::string& token = pending.second;
        const std::size_t digits = token.find_first_not_of("0123456789");
        if (digits == 0 || digits == std::string::npos || token[digits] != '-' || digits > 9) {
            return true;  // no process of ours could have made it
        }
        return !processIsRunning(std::stol(token.substr(0, digits)));
    });
}

void reboot(ServiceState& state) {
    for (auto slots = state.extensions.begin(); slots != state.extensions.end();) {
        slots->second.uninstallingOnReboot.reset();
        auto& live = slots->second.live;
        if (live && live->state == LiveState::activatedWaitingForReboot) {
            live->state = LiveState::activatedEnabled;
        }
        slots = slots->second.empty() ? state.extensions.erase(slots) : std::next(slots);
    }
    state.busy.clear();
}

void approve(ServiceState& state, const std::string& identifier) {
    state.approved.insert(identifier);
    const auto slots = state.extensions.find(identifier);
    if (slots != state.extensions.end() && slots->second.live &&
        slots->second.live->state == LiveState::activatedWaitingForUser) {
        slots->second.live->state = LiveState::activatedEnabled;
    }
}

std::string approvalHint(std::string_view identifier) {
    return "To approve the extension, run: sysextctl approve " + std::string(identifier) + "\n";
}

}  // namespace sysext
