#include "StateFormat.hpp"

#include <vector>

#include "Identifier.hpp"

namespace sysext {

namespace {

constexpr std::string_view header = "veltrin-sysext-state 1";
constexpr std::string_view trailer = "end";

std::vector<std::string_view> splitWords(std::string_view line, std::size_t maxWords) {
    std::vector<std::string_view> words;
    while (words.size() + 1 < maxWords) {
        const auto blank = line.find(' ');
        if (blank == std::string_view::npos) {
            break;
        }
        words.push_back(line.substr(0, blank));
        line.remove_prefix(blank + 1);
    }
    words.push_back(line);
    return words;
}

// Nine digits always fit a long and no release or error code needs more.
std::optional<long> parseNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

class Parser {
  public:
    explicit Parser(std::string_view bytes) : bytes_(bytes) {}

    Expected<ServiceState> run() {
        if (bytes_.size() > largestStateFile) {
            return Failure{"larger than " + std::to_string(largestStateFile) + " bytes"};
        }
        if (bytes_.empty()) {
            return Failure{"empty file"};
        }
        // Bytes that do not even begin like a state file (zeros from a crash, a
        // file of something else) are not one cut short.
        if (bytes_.substr(0, header.size()) != header.substr(0, bytes_.size())) {
            return Failure{"line 1: not a state file of this service"};
        }
        if (bytes_.back() != '\n') {
            return Failure{"cut short: the last line has no line end"};
        }
        if (auto clean = everyByteInPlace(); !clean) {
            return clean.error();
        }
        std::string_view rest = bytes_;
        bool ended = false;
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end + 1);
            ++lineNumber_;
            if (ended) {
                return failAt("text after the \"end\" line");
            }
            if (lineNumber_ == 1) {
                if (line != header) {
                    return failAt("not a state file of this service (expected \"" +
                                  std::string(header) + "\")");
                }
                continue;
            }
            if (line == trailer) {
                ended = true;
                continue;
            }
            if (auto taken = takeRecord(line); !taken) {
                return failAt(taken.error().message);
            }
        }
        if (!ended) {
            return Failure{"cut short: no \"end\" line"};
        }
        if (!sawRelease_ || !sawDeveloper_) {
            return Failure{"the \"release\" or \"developer\" line is missing"};
        }
        return std::move(state_);
    }

  private:
    Expected<void> everyByteInPlace() const {
        std::size_t line = 1;
        for (const char c : bytes_) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '\n') {
                ++line;
            } else if (byte < 0x20 || byte > 0x7e) {
                static constexpr char hex[] = "0123456789abcdef";
                return Failure{"line " + std::to_string(line) + ": byte 0x" + hex[byte >> 4] +
                               hex[byte & 0xf] + " does not belong in a state file"};
            }
        }
        return {};
    }

    Failure failAt(const std::string& problem) const {
        return Failure{"line " + std::to_string(lineNumber_) + ": " + problem};
    }

    Expected<void> takeRecord(std::string_view line) {
        const auto words = splitWords(line, 2);
        const std::string_view keyword = words[0];
        const std::string_view rest = words.size() > 1 ? words[1] : std::string_view{};
        if (words.size() < 2 || rest.empty()) {
            return Failure{"\"" + std::string(keyword) + "\" without a value"};
        }
        if (keyword == "release") {
            return takeRelease(rest);
        }
        if (keyword == "developer") {
            return takeDeveloper(rest);
        }
        if (keyword == "extension") {
            return takeExtension(rest);
        }
        if (keyword == "policy") {
            return takePolicy(rest);
        }
        if (keyword == "approved") {
            return takeIdentifierInto(rest, state_.approved, "approved");
        }
        if (keyword == "busy") {
            return takeIdentifierInto(rest, state_.busy, "busy");
        }
        if (keyword == "pending") {
            return takePending(rest);
        }
        if (keyword == "fail") {
            return takeFailNext(rest);
        }
        return Failure{"unknown record \"" + std::string(keyword.substr(0, 40)) + "\""};
    }

    Expected<void> takeRelease(std::string_view text) {
        if (sawRelease_) {
            return Failure{"a second \"release\" line"};
        }
        sawRelease_ = true;
        const auto release = parseRelease(text, 3);
        if (!release) {
            return Failure{"release is not of the form X.Y.Z"};
        }
        state_.release = *release;
        return {};
    }

    Expected<void> takeDeveloper(std::string_view text) {
        if (sawDeveloper_) {
            return Failure{"a second \"developer\" line"};
        }
        sawDeveloper_ = true;
        if (text != "on" && text != "off") {
            return Failure{"developer must be \"on\" or \"off\""};
        }
        state_.developerMode = text == "on";
        return {};
    }

    Expected<void> takeExtension(std::string_view text) {
        const auto words = splitWords(text, 4);
        if (words.size() != 4) {
            return Failure{"an extension needs an identifier, a version, a build and a state"};
        }
        if (!isBundleIdentifier(words[0])) {
            return Failure{"malformed identifier"};
        }
        if (!isDottedVersion(words[1]) || !isDottedVersion(words[2])) {
            return Failure{"malformed version or build"};
        }
        const BundleVersion version{std::string(words[1]), std::string(words[2])};
        ExtensionSlots& slots = state_.extensions[std::string(words[0])];
        if (words[3] == uninstallingStateName) {
            if (slots.uninstallingOnReboot) {
                return Failure{"a second version waiting to uninstall"};
            }
            slots.uninstallingOnReboot = version;
            return {};
        }
        const auto live = liveStateFromName(words[3]);
        if (!live) {
            return Failure{"unknown extension state"};
        }
        if (slots.live) {
            return Failure{"a second active version of one extension"};
        }
        slots.live = LiveExtension{version, *live};
        return {};
    }

    Expected<void> takePolicy(std::string_view text) {
        const auto words = splitWords(text, 3);
        if (words.size() != 2 || !isBundleIdentifier(words[0])) {
            return Failure{"a policy needs an identifier and \"allow\" or \"deny\""};
        }
        if (words[1] != "allow" && words[1] != "deny") {
            return Failure{"a policy is \"allow\" or \"deny\""};
        }
        const bool added =
            state_.policies
                .emplace(std::string(words[0]), words[1] == "deny" ? Policy::deny : Policy::allow)
                .second;
        if (!added) {
            return Failure{"a second policy for one extension"};
        }
        return {};
    }

    Expected<void> takeIdentifierInto(std::string_view text, std::set<std::string>& set,
                                      std::string_view what) {
        if (!isBundleIdentifier(text)) {
            return Failure{"malformed identifier"};
        }
        if (!set.emplace(text).second) {
            return Failure{"an extension marked " + std::string(what) + " twice"};
        }
        return {};
    }

    Expected<void> takePending(std::string_view text) {
        const auto words = splitWords(text, 3);
        if (words.size() != 2 || !isBundleIdentifier(words[0]) || !isRequestToken(words[1])) {
            return Failure{"a pending request needs an identifier and a token"};
        }
        if (!state_.pendingApprovals.emplace(words[0], words[1]).second) {
            return Failure{"a second pending request for one extension"};
        }
        return {};
    }

    Expected<void> takeFailNext(std::string_view text) {
        const auto words = splitWords(text, 3);
        const auto code = words.size() == 2 ? parseNumber(words[1]) : std::nullopt;
        if (!code || !isBundleIdentifier(words[0])) {
            return Failure{"a failure needs an identifier and an error code"};
        }
        if (!state_.failNext.emplace(words[0], *code).second) {
            return Failure{"a second failure for one extension"};
        }
        return {};
    }

    std::string_view bytes_;
    std::size_t lineNumber_ = 0;
    bool sawRelease_ = false;
    bool sawDeveloper_ = false;
    ServiceState state_;
};

void appendLine(std::string& out, std::initializer_list<std::string_view> words) {
    bool first = true;
    for (const auto word : words) {
        if (!first) {
            out += ' ';
        }
        out += word;
        first = false;
    }
    out += '\n';
}

}  // namespace

Expected<ServiceState> parseState(std::string_view bytes) {
    return Parser(bytes).run();
}

std::string serializeState(const ServiceState& state) {
    std::string out;
    appendLine(out, {header});
    appendLine(out, {"release", releaseText(state.release)});
    appendLine(out, {"developer", state.developerMode ? "on" : "off"});
    for (const auto& [identifier, slots] : state.extensions) {
        if (slots.live) {
            appendLine(out, {"extension", identifier, slots.live->version.shortVersion,
                             slots.live->version.build, liveStateName(slots.live->state)});
        }
        if (slots.uninstallingOnReboot) {
            appendLine(out, {"extension", identifier, slots.uninstallingOnReboot->shortVersion,
                             slots.uninstallingOnReboot->build, uninstallingStateName});
        }
    }
    for (const auto& [identifier, policy] : state.policies) {
        appendLine(out, {"policy", identifier, policy == Policy::deny ? "deny" : "allow"});
    }
    for (const auto& identifier : state.approved) {
        appendLine(out, {"approved", identifier});
    }
    for (const auto& identifier : state.busy) {
        appendLine(out, {"busy", identifier});
    }
    for (const auto& [identifier, token] : state.pendingApprovals) {
        appendLine(out, {"pending", identifier, token});
    }
    for (const auto& [identifier, code] : state.failNext) {
        appendLine(out, {"fail", identifier, std::to_string(code)});
    }
    appendLine(out, {trailer});
    return out;
}

std::optional<Release> parseRelease(std::string_view text, int fewestNumbers) {
    long numbers[3] = {};
    int count = 0;
    for (bool more = true; more; ++count) {
        if (count == 3) {
            return std::nullopt;
        }
        const auto dot = text.find('.');
        const auto number = parseNumber(text.substr(0, dot));
        if (!number) {
            return std::nullopt;
        }
        numbers[count] = *number;
        more = dot != std::string_view::npos;
        text = more ? text.substr(dot + 1) : std::string_view{};
    }
    if (count < fewestNumbers) {
        return std::nullopt;
    }
    return Release{numbers[0], numbers[1], numbers[2]};
}

std::string releaseText(const Release& release) {
    return std::to_string(release.major) + "." + std::to_string(release.minor) + "." +
           std::to_string(release.patch);
}

}  // namespace sysext
