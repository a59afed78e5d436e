#include "Sysextctl.hpp"

#include <charconv>
#include <functional>
#include <map>
#include <set>

#include "Identifier.hpp"
#include "ServiceDecisions.hpp"
#include "StateFormat.hpp"
#include "StateStore.hpp"
#include "platform/text/EscapedText.hpp"

namespace sysext {

namespace {

constexpr const char* usage =
    "usage: sysextctl VERB [ARGUMENTS]\n"
    "  list                      the extensions with their versions and states\n"
    "  approve ID                approve the extension as the user would\n"
    "  policy ID allow|deny      allow or forbid the extension by system policy\n"
    "  busy ID on|off            mark the extension in use: removal and replacement\n"
    "                            then complete only after a restart\n"
    "  fail ID CODE              make the next request for the extension fail with\n"
    "                            the error CODE (1 to 13 are the service's own)\n"
    "  reboot                    carry out what waits for a restart\n"
    "  release [X.Y.Z]           show or set the simulated operating-system release\n"
    "  developer [on|off]        show or set developer mode (replacement is asked\n"
    "                            for every activation)\n"
    "  reset                     forget everything, also a damaged state\n"
    "  help                      this text\n"
    "The state lives in $XDG_STATE_HOME/veltrin-sysext (default ~/.local/state).\n";

struct Command {
    const std::vector<std::string>& arguments;
    std::ostream& out;
    std::ostream& err;
};

int usageError(Command& command, const std::string& problem) {
    command.err << "sysextctl: " << problem << "\nRun \"sysextctl help\" for the verbs.\n";
    return exitUsage;
}

int stateError(Command& command, const std::string& problem) {
    command.err << "sysextctl: " << problem << "\n";
    return exitStateProblem;
}

// Bytes from the command line, shown as the launcher shows its arguments.
std::string quoted(const std::string& argument, std::size_t longest) {
    return platform::text::quoted(std::string_view(argument).substr(0, longest));
}

// A signal ends the tool while it waits for the lock, as it always did; after a
// while it says who holds it.
Expected<StateStore> openStore(Command& command) {
    auto paths = locateStatePaths();
    if (!paths) {
        return paths.error();
    }
    LockWait wait;
    wait.notice = [&command](const std::string& message) {
        command.err << "sysextctl: " << message << std::endl;
    };
    return StateStore(*paths, std::move(wait));
}

// `edit` returns what to tell the user once its change has been stored.
int change(Command& command, const std::function<std::string(ServiceState&)>& edit) {
    auto store = openStore(command);
    if (!store) {
        return stateError(command, store.error().message);
    }
    std::string afterwards;
    auto changed = store->updateWith([&](ServiceState& state) { afterwards = edit(state); });
    if (!changed) {
        return stateError(command, changed.error().message);
    }
    command.err << afterwards;
    return exitSuccess;
}

int show(Command& command, const std::function<void(const ServiceState&)>& print) {
    auto store = openStore(command);
    if (!store) {
        return stateError(command, store.error().message);
    }
    auto state = store->read();
    if (!state) {
        return stateError(command, state.error().message);
    }
    print(*state);
    return exitSuccess;
}

// Kept for a request still to come, but a misspelt identifier would leave the
// launcher waiting, so the user hears which identifiers the service knows.
std::string warningIfNoRequestNamed(const ServiceState& state, const std::string& identifier) {
    std::set<std::string> known;
    for (const auto& [name, slots] : state.extensions) {
        known.insert(name);
    }
    for (const auto& [name, token] : state.pendingApprovals) {
        known.insert(name);
    }
    if (known.contains(identifier)) {
        return {};
    }
    std::string warning = "sysextctl: no request for " + identifier +
                          " is known yet (kept for when one comes); known:";
    for (const std::string& name : known) {
        warning.append(" ").append(name);
    }
    return warning + (known.empty() ? " none\n" : "\n");
}

// Checks the count of arguments after the verb and the identifier among them.
Expected<void> checkShape(const Command& command, std::size_t count, bool firstIsIdentifier) {
    const std::string& verb = command.arguments[0];
    if (command.arguments.size() - 1 != count) {
        return Failure{"\"" + verb + "\" takes " + std::to_string(count) + " argument" +
                       (count == 1 ? "" : "s") + ", got " +
                       std::to_string(command.arguments.size() - 1)};
    }
    if (firstIsIdentifier && !isBundleIdentifier(command.arguments[1])) {
        return Failure{quoted(command.arguments[1], 300) +
                       " is not a bundle identifier (reverse-DNS, such as com.example.driver)"};
    }
    return {};
}

std::optional<bool> parseSwitch(const std::string& text, const char* on, const char* off) {
    if (text == on) {
        return true;
    }
    if (text == off) {
        return false;
    }
    return std::nullopt;
}

int list(Command& command) {
    if (auto shape = checkShape(command, 0, false); !shape) {
        return usageError(command, shape.error().message);
    }
    return show(command, [&](const ServiceState& state) {
        if (state.extensions.empty()) {
            command.out << "nothing is installed\n";
        }
        for (const auto& [identifier, slots] : state.extensions) {
            if (slots.live) {
                command.out << identifier << ' ' << slots.live->version.shortVersion << " ("
                            << slots.live->version.build << ") ["
                            << liveStateName(slots.live->state) << "]\n";
            }
            if (slots.uninstallingOnReboot) {
                command.out << identifier << ' ' << slots.uninstallingOnReboot->shortVersion << " ("
                            << slots.uninstallingOnReboot->build << ") [" << uninstallingStateName
                            << "]\n";
            }
        }
    });
}

int approveVerb(Command& command) {
    if (auto shape = checkShape(command, 1, true); !shape) {
        return usageError(command, shape.error().message);
    }
    const std::string& identifier = command.arguments[1];
    return change(command, [&](ServiceState& state) {
        approve(state, identifier);
        return warningIfNoRequestNamed(state, identifier);
    });
}

int policy(Command& command) {
    if (auto shape = checkShape(command, 2, true); !shape) {
        return usageError(command, shape.error().message);
    }
    const auto deny = parseSwitch(command.arguments[2], "deny", "allow");
    if (!deny) {
        return usageError(command, "a policy is \"allow\" or \"deny\"");
    }
    const std::string& identifier = command.arguments[1];
    return change(command, [&](ServiceState& state) {
        state.policies[identifier] = *deny ? Policy::deny : Policy::allow;
        return warningIfNoRequestNamed(state, identifier);
    });
}

int busy(Command& command) {
    if (auto shape = checkShape(command, 2, true); !shape) {
        return usageError(command, shape.error().message);
    }
    const auto inUse = parseSwitch(command.arguments[2], "on", "off");
    if (!inUse) {
        return usageError(command, "busy is \"on\" or \"off\"");
    }
    const std::string& identifier = command.arguments[1];
    return change(command, [&](ServiceState& state) {
        if (*inUse) {
            state.busy.insert(identifier);
        } else {
            state.busy.erase(identifier);
        }
        return warningIfNoRequestNamed(state, identifier);
    });
}

int failVerb(Command& command) {
    if (auto shape = checkShape(command, 2, true); !shape) {
        return usageError(command, shape.error().message);
    }
    const std::string& text = command.arguments[2];
    std::int64_t code = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (error != std::errc() || end != text.data() + text.size() || code < 1 ||
        code > 999'999'999) {
        return usageError(command, "an error code is a number from 1 to 999999999");
    }
    const std::string& identifier = command.arguments[1];
    return change(command, [&](ServiceState& state) {
        state.failNext[identifier] = code;
        return warningIfNoRequestNamed(state, identifier);
    });
}

int rebootVerb(Command& command) {
    if (auto shape = checkShape(command, 0, false); !shape) {
        return usageError(command, shape.error().message);
    }
    return change(command, [](ServiceState& state) {
        reboot(state);
        return std::string();
    });
}

int release(Command& command) {
    if (command.arguments.size() == 1) {
        return show(command, [&](const ServiceState& state) {
            command.out << releaseText(state.release) << "\n";
        });
    }
    if (auto shape = checkShape(command, 1, false); !shape) {
        return usageError(command, shape.error().message);
    }
    const auto wanted = parseRelease(command.arguments[1], 1);
    if (!wanted) {
        return usageError(command, quoted(command.arguments[1], 300) +
                                       " is not a release such as 15.1 or 12.7.6");
    }
    return change(command, [&](ServiceState& state) {
        state.release = *wanted;
        return std::string();
    });
}

int developer(Command& command) {
    if (command.arguments.size() == 1) {
        return show(command, [&](const ServiceState& state) {
            command.out << (state.developerMode ? "on" : "off") << "\n";
        });
    }
    if (auto shape = checkShape(command, 1, false); !shape) {
        return usageError(command, shape.error().message);
    }
    const auto on = parseSwitch(command.arguments[1], "on", "off");
    if (!on) {
        return usageError(command, "developer mode is \"on\" or \"off\"");
    }
    return change(command, [&](ServiceState& state) {
        state.developerMode = *on;
        return std::string();
    });
}

int reset(Command& command) {
    if (auto shape = checkShape(command, 0, false); !shape) {
        return usageError(command, shape.error().message);
    }
    auto store = openStore(command);
    if (!store) {
        return stateError(command, store.error().message);
    }
    if (auto cleared = store->reset(); !cleared) {
        return stateError(command, cleared.error().message);
    }
    return exitSuccess;
}

int help(Command& command) {
    command.out << usage;
    return exitSuccess;
}

}  // namespace

int runSysextctl(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    Command command{arguments, out, err};
    if (arguments.empty()) {
        return usageError(command, "no verb given");
    }
    static const std::map<std::string, int (*)(Command&)> verbs{
        {"list", list},       {"approve", approveVerb}, {"policy", policy},
        {"busy", busy},       {"fail", failVerb},       {"reboot", rebootVerb},
        {"release", release}, {"developer", developer}, {"reset", reset},
        {"help", help},       {"--help", help},         {"-h", help},
    };
    const auto verb = verbs.find(arguments[0]);
    if (verb == verbs.end()) {
        return usageError(command, "unknown verb " + quoted(arguments[0], 100));
    }
    return verb->second(command);
}

}  // namespace sysext
