// The command line and the argument report take the process's arguments as they
// come. Checked: properties that the choice of mode and -wait must have (not a
// second parser), and that the report reads back, item by item, as exactly the
// arguments that went in.
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "FuzzInput.hpp"
#include "veltrin_Driverkit_Launcher/ArgumentReport.hpp"
#include "veltrin_Driverkit_Launcher/LaunchModes.hpp"

namespace {

void appendUtf8(std::string& out, unsigned long codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Reads the report back; nullopt when it is not a well-formed list of quoted items.
std::optional<std::vector<std::string>> parseReport(const std::string& line) {
    if (line.size() < 3 || line.front() != '[' || line.substr(line.size() - 2) != "]\n") {
        return std::nullopt;
    }
    std::vector<std::string> items;
    std::size_t i = 1;
    const std::size_t end = line.size() - 2;
    while (i < end) {
        if (!items.empty()) {
            if (line.compare(i, 2, ", ") != 0) {
                return std::nullopt;
            }
            i += 2;
        }
        if (i >= end || line[i] != '"') {
            return std::nullopt;
        }
        ++i;
        std::string item;
        for (;;) {
            if (i >= end) {
                return std::nullopt;
            }
            const char c = line[i++];
            if (c == '"') {
                break;
            }
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7F) {
                return std::nullopt;  // a raw control byte would break the line
            }
            if (c != '\\') {
                item.push_back(c);
                continue;
            }
            if (i >= end) {
                return std::nullopt;
            }
            const char e = line[i++];
            switch (e) {
                case '"':
                    item.push_back('"');
                    break;
                case '\\':
                    item.push_back('\\');
                    break;
                case '0':
                    item.push_back('\0');
                    break;
                case 't':
                    item.push_back('\t');
                    break;
                case 'n':
                    item.push_back('\n');
                    break;
                case 'r':
                    item.push_back('\r');
                    break;
                case 'u':
                case 'x': {
                    if (i >= end || line[i] != '{') {
                        return std::nullopt;
                    }
                    const std::size_t close = line.find('}', i);
                    if (close == std::string::npos || close >= end) {
                        return std::nullopt;
                    }
                    const std::string hex = line.substr(i + 1, close - i - 1);
                    const unsigned long value = std::strtoul(hex.c_str(), nullptr, 16);
                    if (e == 'x') {
                        item.push_back(static_cast<char>(value));
                    } else {
                        appendUtf8(item, value);
                    }
                    i = close + 1;
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        items.push_back(std::move(item));
    }
    if (line.find('\n') != line.size() - 1) {
        return std::nullopt;
    }
    return items;
}

bool has(const std::vector<std::string>& args, std::string_view flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

// The winner is one of the arguments, whole; the order of the arguments does
// not matter; and another listed flag added wins exactly when it is listed
// before the winner (none counts as after every flag).
bool theFirstListedFlagWins(const std::vector<std::string>& args) {
    const launcher::LaunchMode* const mode = launcher::readCommandLine(args).mode;
    const std::vector<std::string> reversed(args.rbegin(), args.rend());
    if ((mode != nullptr && !has(args, mode->flag)) ||
        launcher::readCommandLine(reversed).mode != mode) {
        return false;
    }
    return std::ranges::all_of(launcher::launchModes, [&](const launcher::LaunchMode& row) {
        std::vector<std::string> more = args;
        more.emplace_back(row.flag);
        return launcher::readCommandLine(more).mode ==
               (mode == nullptr || &row < mode ? &row : mode);
    });
}

// -wait is accepted only with a mode that takes it and only before decimal
// digits (nothing else) worth 1 to a day, and then yields their value.
bool waitTakesWholeSecondsAfterAModeThatTakesIt(const std::vector<std::string>& args) {
    const launcher::CommandLine line = launcher::readCommandLine(args);
    const auto wait = std::find(args.begin(), args.end(), "-wait");
    if (wait == args.end()) {
        return line.usageError.empty() && line.waitSeconds == 0;
    }
    const std::string seconds = std::next(wait) == args.end() ? "" : *std::next(wait);
    long value = 0;
    for (const char digit : seconds) {
        value = std::min(value * 10 + (digit - '0'), launcher::longestWait + 1);
    }
    const bool acceptable = !seconds.empty() &&
                            seconds.find_first_not_of("0123456789") == std::string::npos &&
                            value >= 1 && value <= launcher::longestWait && line.mode != nullptr &&
                            line.mode->takesWait;
    return line.usageError.empty() == acceptable && (!acceptable || line.waitSeconds == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = splitAtNul(data, size);
    if (!theFirstListedFlagWins(args) || !waitTakesWholeSecondsAfterAModeThatTakesIt(args)) {
        std::abort();
    }
    const auto parsed = parseReport(launcher::argumentReportLine(args));
    if (!parsed || *parsed != args) {
        std::abort();
    }
    return 0;
}
