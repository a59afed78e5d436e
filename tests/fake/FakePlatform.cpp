#include "FakePlatform.hpp"

#include <stdlib.h>  // mkdtemp

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

namespace fake {

namespace fs = std::filesystem;

namespace {

FakePlatform* currentFake = nullptr;

std::int64_t toNanos(double seconds) {
    return std::max<std::int64_t>(0, std::llround(seconds * 1e9));
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "fake::FakePlatform: %s\n", why);
    std::abort();
}

}  // namespace

std::string lines(const Trace& trace) {
    std::string out;
    for (const std::string& entry : trace) {
        for (const char c : std::string_view(entry).substr(0, 240)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte >= 0x7F || c == '\\') {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                out += hex;
            } else {
                out += c;
            }
        }
        out += entry.size() > 240 ? "...(" + std::to_string(entry.size()) + " bytes)\n" : "\n";
    }
    return out;
}

void FakeTextField::setStringValue(std::string_view text) {
    fake_->record(sink_ + (" " + std::string(text)));
}

void FakeButton::setKeyEquivalent(std::string_view key) {
    fake_->record("Key " + std::string(key));
}

void FakeTimer::invalidate() {
    if (owner_ != nullptr) {
        owner_->invalidateTimer(*this);
    } else {
        scheduled_ = false;
    }
}

FakePlatform::FakePlatform() : mainQueue_(std::make_unique<platform::DispatchQueue>(*this)) {
    if (currentFake != nullptr) {
        fail("only one may exist at a time");
    }
    std::string pattern = (fs::temp_directory_path() / "veltrin-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        fail("mkdtemp failed");
    }
    home_ = pattern;
    setStartDateTime({2026, 12, 5, 7, 41, 39});
    currentFake = this;
}

FakePlatform::~FakePlatform() {
    for (const auto& timer : timers_) {
        timer->owner_ = nullptr;
    }
    posted_.clear();
    delegate_.reset();
    currentFake = nullptr;
    std::error_code ignored;
    fs::remove_all(home_, ignored);
}

FakePlatform& FakePlatform::current() {
    if (currentFake == nullptr) {
        fail("a seam function was called with no fake in place");
    }
    return *currentFake;
}

// Seconds since 1970 read as UTC, so that no zone or daylight saving applies.
void FakePlatform::setStartDateTime(LocalDateTime start) {
    std::tm t{};
    std::tie(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec) = std::tuple(
        start.year - 1900, start.month - 1, start.day, start.hour, start.minute, start.second);
    startSecondsOfEpoch_ = ::timegm(&t);
}

LocalDateTime FakePlatform::localDateTime() const {
    const std::time_t total = startSecondsOfEpoch_ + nowNs_ / 1'000'000'000;
    std::tm t{};
    ::gmtime_r(&total, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

bool FakePlatform::isAtLeast(platform::OperatingSystemVersion version) const {
    return std::tie(release_.major, release_.minor, release_.patch) >=
           std::tie(version.major, version.minor, version.patch);
}

void FakePlatform::createActivityLog(std::string_view initialBytes) {
    std::ofstream(activityLogPath(), std::ios::binary | std::ios::trunc) << initialBytes;
    activityLogSeen_ = initialBytes.size();
}

std::optional<std::string> FakePlatform::activityLogBytes() const {
    std::error_code error;
    if (!fs::is_regular_file(activityLogPath(), error)) {
        return std::nullopt;
    }
    std::ifstream in(activityLogPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whatever was appended since the last look becomes one entry, at the current
// time, so that each write lands between the right neighbours.
void FakePlatform::observeActivityLog() {
    std::error_code error;
    const std::uintmax_t size =
        fs::is_regular_file(activityLogPath(), error) ? fs::file_size(activityLogPath(), error) : 0;
    if (error) {
        return;
    }
    if (size < activityLogSeen_) {
        activityLogSeen_ = 0;  // truncated or replaced behind our back
    }
    if (size == activityLogSeen_) {
        return;
    }
    std::ifstream in(activityLogPath(), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(activityLogSeen_));
    std::string bytes(static_cast<std::size_t>(size - activityLogSeen_), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    activityLogSeen_ += bytes.size();
    trace_.push_back(number(now()) + " ActivityLog " + bytes);
}

int FakePlatform::launch(const std::vector<std::string>& flags) {
    std::vector<std::string> storage{std::string(programPath)};
    storage.insert(storage.end(), flags.begin(), flags.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return platform::applicationMain(static_cast<int>(storage.size()), argv.data());
}

int FakePlatform::applicationMain(int argc, char** argv) {
    arguments_.assign(argv, argv + argc);
    delegate_ = platform::instantiateLayoutDelegate();
    quitButton_ = std::make_shared<FakeButton>(*this);
    const auto field = [&](const char* sink) {
        return std::make_shared<FakeTextField>(*this, sink);
    };
    if (outlets_.window) {
        delegate_->setWindow(std::make_shared<FakeWindow>());
    }
    if (outlets_.quitButton) {
        delegate_->setQuitButton(quitButton_);
    }
    if (outlets_.messageBox) {
        delegate_->setMessageBox(field("Status"));
    }
    if (outlets_.macOSMessageBox) {
        delegate_->setMacOSMessageBox(field("Release"));
    }
    delegate_->applicationDidFinishLaunching();
    runUntilIdle();
    return 0;
}

void FakePlatform::advanceClock(double seconds) {
    observeActivityLog();
    nowNs_ += toNanos(seconds);
}

void FakePlatform::post(std::function<void()> work) {
    posted_.push_back({nowNs_, nextOrder_++, std::move(work)});
}

// Runs the one thing that became due first (posted work is due when posted, a
// timer at its fire time), if it is due by `limit` or by now. False when none is.
bool FakePlatform::runNextDue(std::int64_t limit) {
    if (ended_) {
        return false;
    }
    limit = std::max(limit, nowNs_);
    FakeTimer* next = nullptr;
    for (const auto& timer : timers_) {
        if (timer->scheduled_ && timer->fireAt_ <= limit &&
            (next == nullptr ||
             std::tie(timer->fireAt_, timer->order_) < std::tie(next->fireAt_, next->order_))) {
            next = timer.get();
        }
    }
    if (!posted_.empty() &&
        (next == nullptr || std::tie(posted_.front().postedAt, posted_.front().order) <
                                std::tie(next->fireAt_, next->order_))) {
        std::function<void()> work = std::move(posted_.front().work);
        posted_.erase(posted_.begin());
        work();
        return true;
    }
    if (next == nullptr) {
        return false;
    }
    observeActivityLog();
    nowNs_ = std::max(nowNs_, next->fireAt_);
    // Kept alive while it fires, whatever the target does with its references.
    const std::shared_ptr<FakeTimer> firing = timers_[static_cast<std::size_t>(next->id_ - 1)];
    record("Fired #" + std::to_string(firing->id_));
    firing->scheduled_ = false;
    firing->target_->fireTimer();
    return true;
}

void FakePlatform::runUntil(double time) {
    const std::int64_t limit = toNanos(time);
    while (runNextDue(limit)) {
    }
    if (!ended_ && limit > nowNs_) {
        observeActivityLog();
        nowNs_ = limit;
    }
}

void FakePlatform::runUntilNoTasksRemain(double bound) {
    const std::int64_t limit = nowNs_ + toNanos(bound);
    while (runNextDue(limit)) {
    }
}

std::shared_ptr<platform::Timer> FakePlatform::scheduleTimer(double seconds,
                                                             platform::TimerTarget& target,
                                                             bool repeats) {
    auto timer = std::make_shared<FakeTimer>();
    timer->owner_ = this;
    timer->id_ = static_cast<int>(timers_.size()) + 1;
    timer->fireAt_ = nowNs_ + toNanos(seconds);
    timer->order_ = nextOrder_++;
    timer->target_ = &target;
    timers_.push_back(timer);
    record("Scheduled #" + std::to_string(timer->id_) + " " + number(seconds) + " " +
           name(dynamic_cast<const void*>(&target)) + (repeats ? " repeats" : ""));
    return timer;
}

void FakePlatform::invalidateTimer(FakeTimer& timer) {
    record("Invalidated #" + std::to_string(timer.id_));
    timer.scheduled_ = false;
}

void FakePlatform::terminate(const void* sender) {
    record("Terminate " + name(sender));
    if (!ended_) {
        ended_ = true;
        if (delegate_) {
            delegate_->applicationWillTerminate();
        }
    }
}

void FakePlatform::submit(std::shared_ptr<FakeRequest> request) {
    record(std::string("Submit ") +
           (request->kind == platform::RequestKind::activation ? "activation " : "deactivation ") +
           request->identifier() + " " + name(dynamic_cast<const void*>(request->delegate)) + " " +
           name(request->queue));
    requests_.push_back(std::move(request));
}

void FakePlatform::deliver(
    std::size_t index,
    std::function<void(platform::SystemExtensionRequestDelegate&, FakeRequest&)> call) {
    if (index >= requests_.size()) {
        fail("an answer to a request that was never submitted");
    }
    FakeRequest& request = *requests_[index];
    request.queue->async([&request, call = std::move(call)] {
        if (request.delegate != nullptr) {
            call(*request.delegate, request);
        }
    });
}

void FakePlatform::answerFinished(std::size_t index, platform::Result result) {
    deliver(index, [result](auto& delegate, auto& request) {
        delegate.requestDidFinishWithResult(request, result);
    });
}

void FakePlatform::answerFailed(std::size_t index, std::string localizedDescription) {
    const platform::Error error{"OSSystemExtensionErrorDomain", 1, std::move(localizedDescription)};
    deliver(index, [error](auto& delegate, auto& request) {
        delegate.requestDidFailWithError(request, error);
    });
}

void FakePlatform::answerNeedsApproval(std::size_t index) {
    deliver(index,
            [](auto& delegate, auto& request) { delegate.requestNeedsUserApproval(request); });
}

void FakePlatform::answerReplacement(std::size_t index, std::string existingVersion,
                                     std::string newVersion) {
    deliver(index, [this, existingVersion, newVersion](auto& delegate, auto& request) {
        const auto answer = delegate.requestActionForReplacingExtension(
            request, {request.identifier(), existingVersion, existingVersion},
            {request.identifier(), newVersion, newVersion});
        record("Answer " + std::to_string(answer));
    });
}

void FakePlatform::pressLoadButton() {
    post([this] { delegate_->loadDriverWithSender(nullptr); });
}

void FakePlatform::pressDisableButton() {
    post([this] { delegate_->disableDriverWithSender(nullptr); });
}

void FakePlatform::userQuits() {
    post([this] { terminate(quitButton_.get()); });
}

void FakePlatform::record(const std::string& what) {
    observeActivityLog();
    trace_.push_back(number(now()) + " " + what);
}

// Objects by their most-derived address, which is what the seam hands over.
std::string FakePlatform::name(const void* object) const {
    const auto is = [object](const auto* candidate) {
        return candidate != nullptr && dynamic_cast<const void*>(candidate) == object;
    };
    return object == nullptr            ? "none"
           : is(delegate_.get())        ? "app"
           : is(quitButton_.get())      ? "quit"
           : object == mainQueue_.get() ? "main"
                                        : "other";
}

const Trace& FakePlatform::trace() {
    observeActivityLog();
    return trace_;
}

}  // namespace fake

void platform::dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    queue.async(std::move(work));
}
