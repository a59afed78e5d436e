// Several processes appending to one activity log at once, each opening and
// closing the file for every line as the launcher does.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "Scratch.hpp"

namespace {

using e2e::Clock;

TEST(ActivityLogLoad, WritersAppendingAtOnceLoseNoLineAndKeepTheirOrder) {
    constexpr int writers = 4;
    constexpr int linesEach = 25000;
    load::Scratch scratch;
    ASSERT_TRUE(scratch.ok());
    const load::fs::path log = scratch.root() / "veltrinLogFile.txt";
    std::ofstream(log, std::ios::binary).close();

    std::vector<std::unique_ptr<e2e::Child>> children;
    const auto started = Clock::now();
    for (int i = 0; i < writers; ++i) {
        std::string error;
        children.push_back(e2e::Child::spawn(
            {VELTRIN_LOAD_APPENDER, log.string(), "W" + std::to_string(i),
             std::to_string(linesEach)},
            scratch.environment(scratch.root()),
            (scratch.root() / ("writer-" + std::to_string(i) + ".stderr")).string(), error));
        ASSERT_TRUE(children.back()) << error;
    }
    for (auto& child : children) {
        const e2e::ExitStatus status = child->finish(e2e::Seconds(120));
        ASSERT_TRUE(status.exited && status.code == 0)
            << "writer ended with code " << status.code << ", signal " << status.signal;
    }
    const double seconds = e2e::secondsBetween(started, Clock::now());

    std::ifstream in(log, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string stamp = "05/12/2026 07:41:39:";
    const std::string padding(150, 'x');
    std::map<std::string, int> next;
    int broken = 0;
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::size_t end = bytes.find("\r\n", position);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        const std::string line = bytes.substr(position, end - position);
        position = end + 2;
        const std::size_t colon = line.find(':', stamp.size());
        const std::string tag = colon == std::string::npos
                                    ? std::string()
                                    : line.substr(stamp.size(), colon - stamp.size());
        if (line != stamp + tag + ":" + std::to_string(next[tag]) + ":" + padding) {
            // Only the first few, so a broken file does not flood the output.
            if (++broken <= 5) {
                ADD_FAILURE() << "line out of place or damaged: \"" << line.substr(0, 60)
                              << "...\"";
            }
            continue;
        }
        ++next[tag];
    }

    int written = 0;
    for (int i = 0; i < writers; ++i) {
        const int got = next["W" + std::to_string(i)];
        EXPECT_EQ(got, linesEach) << "writer W" << i;
        written += got;
    }
    EXPECT_EQ(broken, 0);
    const int expected = writers * linesEach;
    std::cout << "activity-log load: " << writers << " processes x " << linesEach
              << " lines; intact in order " << written << ", lost " << expected - written
              << ", damaged " << broken << "; " << bytes.size() << " bytes in " << seconds
              << " s = " << static_cast<long>(expected / seconds) << " lines/s\n";
    RecordProperty("lines_per_second", static_cast<int>(expected / seconds));
}

}  // namespace
