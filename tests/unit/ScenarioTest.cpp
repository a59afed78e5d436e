// Whole runs of the launcher on the fake platform, a row of scenarios.txt each.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "LauncherTest.hpp"

namespace {

namespace fs = std::filesystem;

struct Scenario {
    std::string name, flags, script, expected;
    int status = 0;
};

void PrintTo(const Scenario& row, std::ostream* out) {
    *out << row.name;
}

std::vector<Scenario> rows() {
    std::vector<Scenario> made;
    std::istringstream lines(fake::wholeFile(VELTRIN_UNIT_DATA "/scenarios.txt"));
    std::string row;
    for (std::string line; std::getline(lines, line);) {
        row += line.starts_with('#') ? "" : line;
        if (!row.empty() && lines.peek() != ' ') {
            std::istringstream fields(std::exchange(row, ""));
            Scenario& s = made.emplace_back();
            for (std::string* field : {&s.name, &s.flags, &s.script, &s.expected}) {
                std::getline(fields, *field, '|');
            }
            fields >> s.status;
            std::erase(s.name, ' ');
        }
    }
    return made;
}

bool stillWritable = false;  // the last readonly spoiling could not make the log unwritable

// Spoils the activity log; returns what it then holds.
std::string spoil(const std::string& how, const std::string& path) {
    if (how != "readonly") {
        fs::remove(path);
    }
    if (how == "directory") {
        fs::create_directory(path);
    } else if (how == "full") {
        fs::create_symlink("/dev/full", path);
    } else if (how == "limit" || (how == "readonly" && fs::is_empty(path))) {
        std::ofstream(path) << "before\n";
    } else if (how == "unfinished") {
        std::ofstream(path) << "earlier run\r\nunfinished";
    }
    if (how == "limit") {
        // Each line starts to fit and then cannot end: whole or absent, so absent.
        static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 7 + 30;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    } else if (how == "readonly") {
        // Root ignores the mode, but not the immutable attribute.
        ::chmod(path.c_str(), 0444);
        static_cast<void>(std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()));
        stillWritable = ::access(path.c_str(), W_OK) == 0;
    }
    return fs::is_regular_file(path) ? fake::wholeFile(path) : "";
}

// Texts from outside, for outside:NAME. The last: a mebibyte of percent signs,
// each a directive if anything read it as a format.
const std::map<std::string, std::string> outsideTexts{
    {"formats", "a%@b%s%n%d%%%x%"},
    {"crlf", "first\r\nsecond"},
    {"utf8", "Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80"},
    {"empty", ""},
    {"nul", std::string("a\0b", 3)},
    {"mebibyte", std::string(1 << 20, '%') + "@%s%n\n\xC3\xA9"}};

const std::set<std::string> settings{"os", "log", "midrun", "quiet", "bare", "outside"};

class ScenarioTest : public LauncherTest, public ::testing::WithParamInterface<Scenario> {
    // After a failure or a throw too: an immutable log would outlive the fake's home.
    void TearDown() override {
        static_cast<void>(
            std::system(("chattr -i '" + fake.activityLogPath() + "' 2>/dev/null").c_str()));
    }
};

TEST_P(ScenarioTest, TraceOfEverySink) {
    const Scenario& row = GetParam();
    const std::string path = fake.activityLogPath();
    rlimit fileSize{};
    ::getrlimit(RLIMIT_FSIZE, &fileSize);
    stillWritable = false;
    fake.createActivityLog();
    std::string held, midrun, play;
    std::optional<std::string> outside;
    std::istringstream setup(row.script);
    for (std::string word; setup >> word;) {
        const std::string kind = word.substr(0, word.find(':'));
        const std::string how = word.substr(std::min(word.size(), kind.size() + 1));
        fake.osLogDefaultTypeEnabled &= kind != "quiet";
        fake.outletsConnected &= kind != "bare";
        std::sscanf(word.c_str(), "os:%ld.%ld.%ld", &fake.release.major, &fake.release.minor,
                    &fake.release.patch);
        held = kind == "log" ? spoil(how, path) : held;
        midrun = kind == "midrun" ? how : midrun;
        outside = kind == "outside" ? std::optional(outsideTexts.at(how)) : outside;
        play += settings.contains(kind) ? "" : word + " ";
    }
    std::istringstream given(row.flags);
    const std::vector<std::string> flags{std::istream_iterator<std::string>(given), {}};
    fake.clearTrace();
    fake.launch(flags);
    if (!midrun.empty()) {
        spoil(midrun, path);
    }
    if (outside) {
        auto foreign = platform::activationRequestForExtension(*outside, platform::mainQueue());
        foreign->setDelegate(
            dynamic_cast<platform::SystemExtensionRequestDelegate*>(fake.delegate.get()));
        platform::submitRequest(foreign);
    }
    fake.play(play + "t3600", outside.value_or(""));
    const auto bytes = fake.activityLogBytes();
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    if (stillWritable) {
        GTEST_SKIP() << "the log stays writable: root, and no `chattr +i` on this filesystem";
    }
    EXPECT_EQ(fake::lines(fake.trace()),
              fake::lines(expand(row.expected, flags, outside.value_or(""))));
    EXPECT_EQ(fake.exitStatus, row.status);
    for (const fake::Entry& e : fake.trace()) {
        held += e.sink == "ActivityLog" ? e.what : "";
    }
    EXPECT_TRUE(!bytes || *bytes == held);                     // what it held, then whole lines
    EXPECT_TRUE(fs::exists(path) || fs::is_empty(fake.home));  // never created
    EXPECT_TRUE(!fs::is_directory(path) || fs::is_empty(path));
}

INSTANTIATE_TEST_SUITE_P(Runs, ScenarioTest, ::testing::ValuesIn(rows()),
                         [](const auto& row) { return row.param.name; });

}  // namespace
