// The fixture of the unit tests: a fresh fake platform (and with it a clean
// launcher state) for every test, and expected traces written in the short
// notation of notation.txt.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DextIdentifier.hpp"  // generated
#include "fake/FakePlatform.hpp"
#include "veltrin_Driverkit_Launcher/FailureAdvice.hpp"
#include "veltrin_Driverkit_Launcher/HelpText.hpp"

class LauncherTest : public ::testing::Test {
  public:
    static std::string dext() { return std::string(launcher::dextIdentifier); }

    // `text` with each of `values` filled in, in one pass.
    static std::string fill(const std::string& text,
                            const std::map<std::string, std::string>& values) {
        std::string out;
        for (std::size_t at = 0; at < text.size(); ++at) {
            const auto value = values.find(text.substr(at, 2));
            out += value != values.end() ? value->second : text.substr(at, 1);
            at += value != values.end() ? 1U : 0U;
        }
        return out;
    }

    fake::Trace expand(const std::string& expected, const std::vector<std::string>& flags = {},
                       const std::string& outside = "") {
        std::string report = "[\"" + std::string(fake::FakePlatform::programPath);
        for (const std::string& flag : flags) {
            report += "\", \"" + flag;
        }
        std::map<std::string, std::string> values{
            {"$i", dext()},
            {"$f", fake.activityLogPath()},
            {"$m", report + "\"]\n"},
            {"$h", launcher::helpText()},
            {"\\n", "\n"},
            {"\\r", "\r"},
            {"$a", launcher::adviceFor({"OSSystemExtensionErrorDomain", 1, ""})}};
        std::map<std::string, std::string> words{{"$", outside}, {"$!", outside + "!"}}, runs;
        std::vector<std::pair<char, std::string>> entries;
        std::istringstream table(fake::wholeFile(VELTRIN_UNIT_DATA "/notation.txt"));
        for (std::string row; std::getline(table, row);) {
            const std::string letter = row.substr(0, row.find(' '));
            const std::string rest = row.substr(std::min(row.size(), letter.size() + 1));
            if (letter == "=") {
                words[rest.substr(0, rest.find(' '))] =
                    fill(rest.substr(rest.find(' ') + 1), values);
            } else if (letter.starts_with('@')) {
                runs[letter] = rest;
            } else if (!letter.empty() && letter != "#") {
                entries.emplace_back(letter[0], rest);
            }
        }
        std::string all;
        std::istringstream given(expected);
        for (std::string token; given >> token;) {
            all += (runs.contains(token) ? runs.at(token) : token) + " ";
        }
        bool logged = true, outlets = true;
        fake::Trace trace;
        std::istringstream tokens(all);
        for (std::string token; tokens >> token;) {
            std::vector<std::string> f;
            std::istringstream fields(token.substr(1) + ":");  // a left-out second too
            for (std::string field; std::getline(fields, field, ':');) {
                std::ranges::replace(field, '_', ' ');
                f.push_back(words.contains(field) && !f.empty() ? words.at(field) : field);
            }
            values["$v"] = "";
            for (std::size_t n = 1; token[0] == 'V' && n < f.size(); ++n) {
                const std::string k = std::to_string(n);
                values["$v"] += dext() + " 1." + k + " (" + k + ") " + f[n] + "\n";
            }
            f.resize(std::max<std::size_t>(f.size(), 3), dext());
            values["$1"] = f[1];
            values["$2"] = f[2];
            const int t = f[0].empty() ? 0 : std::stoi(f[0]);
            logged = logged && token[0] != '~';
            outlets = outlets && token[0] != '-';
            for (const auto& [letter, entry] : entries) {
                const std::string sink = entry.substr(0, entry.find(' '));
                if (letter == token[0] && (sink != "ActivityLog" || logged) &&
                    (outlets || (sink != "Status" && sink != "Release" && sink != "Key"))) {
                    const std::string what =
                        fill(entry.substr(std::min(entry.size(), sink.size() + 1)), values);
                    trace.push_back(
                        {t * 1'000'000'000LL, sink,
                         sink == "ActivityLog" ? fake::dateAt(t) + ":" + what + "\r\n" : what});
                }
            }
            logged = logged && token[0] != 'G';
        }
        return trace;
    }

    fake::FakePlatform fake;
};
