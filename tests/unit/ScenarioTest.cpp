// Whole runs of the launcher on the fake platform, a row of scenarios.txt each.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    std::istringstream lines(wholeFile(VELTRIN_UNIT_DATA "/scenarios.txt"));
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

std::string cannotFreeze;  // why the last freeze could not make the file unwritable

// Makes the file unwritable in a way that also holds for root, which ignores
// permission bits.
void freeze(const std::string& path) {
    ::chmod(path.c_str(), 0444);
    if (::geteuid() == 0) {
        static_cast<void>(std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()));
    }
    if (const int probe = ::open(path.c_str(), O_WRONLY | O_APPEND); probe >= 0) {
        ::close(probe);
        cannotFreeze = "the file stays writable: root, and no `chattr +i` on this filesystem";
    }
}

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
        freeze(path);
    }
    return fs::is_regular_file(path) ? wholeFile(path) : "";
}

class ScenarioTest : public LauncherTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(ScenarioTest, TraceOfEverySink) {
    const Scenario& row = GetParam();
    const std::string path = fake.activityLogPath();
    rlimit fileSize{};
    ::getrlimit(RLIMIT_FSIZE, &fileSize);
    cannotFreeze.clear();
    fake.createActivityLog();
    std::string held, midrun, play;
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
        const bool setting =
            kind == "os" || kind == "log" || kind == "midrun" || kind == "quiet" || kind == "bare";
        play += setting ? "" : word + " ";
    }
    std::istringstream given(row.flags);
    const std::vector<std::string> flags{std::istream_iterator<std::string>(given), {}};
    fake.clearTrace();
    fake.launch(flags);
    if (!midrun.empty()) {
        spoil(midrun, path);
    }
    fake.play(play + "t3600");
    const auto bytes = fake.activityLogBytes();
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    if (::geteuid() == 0) {
        std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    }
    if (!cannotFreeze.empty()) {
        GTEST_SKIP() << cannotFreeze;
    }
    EXPECT_EQ(fake::lines(fake.trace()), fake::lines(expand(row.expected, flags)));
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

// The last: a mebibyte of percent signs, each a directive if anything read it as a format.
const std::vector<std::string> hostile{"a%@b%s%n%d%%%x%",
                                       "first\r\nsecond",
                                       "Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80",
                                       "",
                                       std::string("a\0b", 3),
                                       std::string(1 << 20, '%') + "@%s%n\n\xC3\xA9"};

class HostileTest : public LauncherTest, public ::testing::WithParamInterface<std::size_t> {};

// Texts from outside reach every sink literally, and the unified log only as an
// argument: as a failure's description, an identifier and both versions.
TEST_P(HostileTest, ReachesEverySinkLiterally) {
    const std::string& h = hostile.at(GetParam());
    fake.createActivityLog();
    fake.launch({});
    auto foreign = platform::activationRequestForExtension(h, platform::mainQueue());
    foreign->setDelegate(
        dynamic_cast<platform::SystemExtensionRequestDelegate*>(fake.delegate.get()));
    platform::submitRequest(foreign);
    fake.play("load t0");
    fake.clearTrace();
    fake.play("fail@1:$ approve swap@1:$:$! t0", h);
    EXPECT_EQ(fake.trace(), expand("F0:$ A1:$ P1:$:$! a2", {}, h));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTest, ::testing::Range(std::size_t{0}, hostile.size()));

}  // namespace
