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
#include <sstream>
#include <tuple>

namespace fake {

namespace fs = std::filesystem;

namespace {

FakePlatform* currentFake = nullptr;

constexpr std::int64_t nanosPerSecond = 1'000'000'000;

std::int64_t toNanos(double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * 1e9));
}

double toSeconds(std::int64_t nanos) {
    return static_cast<double>(nanos) / 1e9;
}

const char* const sinkNames[] = {"Stdout",      "Release", "Status",   "Key",       "Log",
                                 "ActivityLog", "Restart", "Submit",   "Scheduled", "Invalidated",
                                 "Fired",       "Answer",  "Terminate"};

// Quoted, bytes outside printable ASCII as \xHH, cut after 160 bytes so a 1 MiB text stays
// readable.
std::string escapedText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text.substr(0, 160)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + (text.size() > 160 ? "\"...(" + std::to_string(text.size()) + " bytes)" : "\"");
}

}  // namespace

// ---------------------------------------------------------------- the trace

// Every field, whatever the sink: a difference shows wherever it is.
std::ostream& operator<<(std::ostream& out, const Event& event) {
    out << sinkNames[static_cast<int>(event.sink)] << "(" << event.time << ", "
        << escapedText(event.text) << ", {";
    for (const Argument& argument : event.arguments) {
        if (const auto* integer = std::get_if<std::int64_t>(&argument)) {
            out << *integer << " ";
        } else {
            out << escapedText(std::get<std::string>(argument)) << " ";
        }
    }
    return out << "}, " << event.number << ", " << event.seconds << " s, " << event.repeats << ", "
               << event.object << ", " << event.queue << ")";
}

std::string describe(const Trace& trace) {
    std::ostringstream out;
    for (const Event& event : trace) {
        out << "  " << event << "\n";
    }
    return out.str();
}

// ---------------------------------------------------------------- the window's objects

void FakeTextField::setStringValue(std::string_view text) {
    fake_->record({.sink = sink_, .text = std::string(text)});
}

void FakeButton::setKeyEquivalent(std::string_view key) {
    fake_->record(Key(0, std::string(key)));
}

// ---------------------------------------------------------------- timers

void FakeTimer::invalidate() {
    if (owner_ != nullptr) {
        owner_->invalidateTimer(*this);
    } else if (state_ == State::scheduled) {
        state_ = State::invalidated;
    }
}

// ---------------------------------------------------------------- the main queue

}  // namespace fake

void platform::DispatchQueue::async(std::function<void()> work) {
    fake_->post(std::move(work));
}

void platform::dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    queue.async(std::move(work));
}

namespace fake {

// ---------------------------------------------------------------- the fake

FakePlatform::FakePlatform() : mainQueue_(std::make_unique<platform::DispatchQueue>(*this)) {
    if (currentFake != nullptr) {
        std::fprintf(stderr, "fake::FakePlatform: only one may exist at a time\n");
        std::abort();
    }
    std::string pattern = (fs::temp_directory_path() / "veltrin-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("fake::FakePlatform: mkdtemp");
        std::abort();
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
        std::fprintf(stderr,
                     "fake::FakePlatform: a seam function was called with no fake in place\n");
        std::abort();
    }
    return *currentFake;
}

// The start as seconds since 1970 read as UTC, so no zone or daylight saving applies.
void FakePlatform::setStartDateTime(LocalDateTime start) {
    std::tm t{};
    t.tm_year = start.year - 1900;
    t.tm_mon = start.month - 1;
    t.tm_mday = start.day;
    t.tm_hour = start.hour;
    t.tm_min = start.minute;
    t.tm_sec = start.second;
    startSecondsOfEpoch_ = ::timegm(&t);
}

LocalDateTime FakePlatform::localDateTime() const {
    const std::time_t total =
        startSecondsOfEpoch_ + nowNs_ / nanosPerSecond;  // the clock never goes back
    std::tm t{};
    ::gmtime_r(&total, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

bool FakePlatform::isAtLeast(platform::OperatingSystemVersion version) const {
    return std::tie(release_.major, release_.minor, release_.patch) >=
           std::tie(version.major, version.minor, version.patch);
}

// ---- the activity log

std::string FakePlatform::activityLogPath() const {
    return home_ + "/veltrinLogFile.txt";
}

void FakePlatform::createActivityLog(std::string_view initialBytes) {
    std::ofstream(activityLogPath(), std::ios::binary | std::ios::trunc)
        .write(initialBytes.data(), static_cast<std::streamsize>(initialBytes.size()));
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

// Whatever was appended to the file since the last look becomes one event, at
// the current time. Called before every recorded event and before the clock
// moves, so each write lands between the right neighbours with the right time.
void FakePlatform::observeActivityLog() {
    std::error_code error;
    const fs::path path = activityLogPath();
    if (!fs::is_regular_file(path, error)) {
        activityLogSeen_ = 0;
        return;
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        return;
    }
    if (size < activityLogSeen_) {
        activityLogSeen_ = 0;  // truncated or replaced behind our back
    }
    if (size == activityLogSeen_) {
        return;
    }
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(activityLogSeen_));
    std::string bytes(static_cast<std::size_t>(size - activityLogSeen_), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    activityLogSeen_ += bytes.size();
    trace_.push_back(ActivityLog(now(), std::move(bytes)));
}

// ---- starting

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
    if (outlets_.window) {
        window_ = std::make_shared<FakeWindow>();
        delegate_->setWindow(window_);
    }
    if (outlets_.quitButton) {
        quitButton_ = std::make_shared<FakeButton>(*this);
        delegate_->setQuitButton(quitButton_);
    }
    if (outlets_.messageBox) {
        messageBox_ = std::make_shared<FakeTextField>(*this, Sink::messageBox);
        delegate_->setMessageBox(messageBox_);
    }
    if (outlets_.macOSMessageBox) {
        macOSMessageBox_ = std::make_shared<FakeTextField>(*this, Sink::macOSMessageBox);
        delegate_->setMacOSMessageBox(macOSMessageBox_);
    }
    delegate_->applicationDidFinishLaunching();
    runUntilIdle();
    return 0;
}

// ---- the clock and the loop

double FakePlatform::now() const {
    return toSeconds(nowNs_);
}

void FakePlatform::advanceClock(double seconds) {
    observeActivityLog();
    nowNs_ += std::max<std::int64_t>(0, toNanos(seconds));
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
    FakeTimer* nextTimer = nullptr;
    for (const auto& timer : timers_) {
        if (timer->state_ == FakeTimer::State::scheduled && timer->fireAt_ <= limit &&
            (nextTimer == nullptr || std::tie(timer->fireAt_, timer->order_) <
                                         std::tie(nextTimer->fireAt_, nextTimer->order_))) {
            nextTimer = timer.get();
        }
    }
    const bool workFirst =
        !posted_.empty() &&
        (nextTimer == nullptr || std::tie(posted_.front().postedAt, posted_.front().order) <
                                     std::tie(nextTimer->fireAt_, nextTimer->order_));
    if (workFirst) {
        std::function<void()> work = std::move(posted_.front().work);
        posted_.erase(posted_.begin());
        work();
        return true;
    }
    if (nextTimer == nullptr) {
        return false;
    }
    observeActivityLog();
    nowNs_ = std::max(nowNs_, nextTimer->fireAt_);
    // Keep it alive while it fires, whatever the target does with its references.
    const std::shared_ptr<FakeTimer> firing = timers_[static_cast<std::size_t>(nextTimer->id_ - 1)];
    record(Fired(0, firing->id_));
    firing->state_ = FakeTimer::State::fired;
    firing->target_->fireTimer();
    return true;
}

void FakePlatform::runUntilIdle() {
    runUntil(now());
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
    auto timer = std::shared_ptr<FakeTimer>(new FakeTimer());
    timer->owner_ = this;
    timer->id_ = static_cast<std::int64_t>(timers_.size()) + 1;
    timer->fireAt_ = nowNs_ + std::max<std::int64_t>(0, toNanos(seconds));
    timer->order_ = nextOrder_++;
    timer->target_ = &target;
    timers_.push_back(timer);
    record(Scheduled(0, timer->id_, seconds, address(target), repeats));
    return timer;
}

void FakePlatform::invalidateTimer(FakeTimer& timer) {
    record(Invalidated(0, timer.id_));
    if (timer.state_ == FakeTimer::State::scheduled) {
        timer.state_ = FakeTimer::State::invalidated;
    }
}

std::shared_ptr<FakeTimer> FakePlatform::timer(std::int64_t id) const {
    if (id < 1 || id > static_cast<std::int64_t>(timers_.size())) {
        return nullptr;
    }
    return timers_[static_cast<std::size_t>(id - 1)];
}

platform::DispatchQueue& FakePlatform::mainQueue() {
    return *mainQueue_;
}

// ---- termination

void FakePlatform::terminate(const void* sender) {
    record(Terminate(0, sender));
    if (ended_) {
        return;
    }
    ended_ = true;
    if (delegate_) {
        delegate_->applicationWillTerminate();
    }
}

// ---- requests

void FakePlatform::submit(std::shared_ptr<FakeRequest> request) {
    const platform::SystemExtensionRequestDelegate* delegate = request->delegate();
    record(Submit(0, request->kind(), request->identifier(),
                  delegate != nullptr ? address(*delegate) : nullptr, address(request->queue())));
    requests_.push_back(std::move(request));
}

// Posts `callback(delegate, request)` to the request's queue, as the service does.
template <class Callback>
void FakePlatform::deliver(std::size_t index, Callback callback) {
    if (index >= requests_.size()) {
        std::fprintf(stderr, "fake::FakePlatform: no request #%zu was submitted\n", index);
        std::abort();
    }
    FakeRequest& req = *requests_[index];
    req.queue().async([&req, callback = std::move(callback)] {
        if (auto* delegate = req.delegate()) {
            callback(*delegate, req);
        }
    });
}

void FakePlatform::answerFinished(std::size_t index, platform::Result result) {
    deliver(index, [result](auto& delegate, auto& req) {
        delegate.requestDidFinishWithResult(req, result);
    });
}

void FakePlatform::answerFailed(std::size_t index, std::string localizedDescription) {
    platform::Error error{"OSSystemExtensionErrorDomain", 1, std::move(localizedDescription)};
    deliver(index,
            [error](auto& delegate, auto& req) { delegate.requestDidFailWithError(req, error); });
}

void FakePlatform::answerNeedsApproval(std::size_t index) {
    deliver(index, [](auto& delegate, auto& req) { delegate.requestNeedsUserApproval(req); });
}

void FakePlatform::answerReplacement(std::size_t index, std::string existingShortVersion,
                                     std::string newShortVersion) {
    deliver(index, [this, existingShortVersion, newShortVersion](auto& delegate, auto& req) {
        const platform::ExtensionProperties existing{req.identifier(), existingShortVersion,
                                                     existingShortVersion};
        const platform::ExtensionProperties offered{req.identifier(), newShortVersion,
                                                    newShortVersion};
        record(Answer(0, delegate.requestActionForReplacingExtension(req, existing, offered)));
    });
}

// ---- the user

void FakePlatform::pressLoadButton() {
    post([this] { delegate_->loadDriverWithSender(nullptr); });
}

void FakePlatform::pressDisableButton() {
    post([this] { delegate_->disableDriverWithSender(nullptr); });
}

void FakePlatform::userQuits() {
    post([this] { terminate(quitButton_.get()); });
}

// ---- the trace

void FakePlatform::record(Event event) {
    observeActivityLog();
    event.time = now();
    trace_.push_back(std::move(event));
}

const Trace& FakePlatform::trace() {
    observeActivityLog();
    return trace_;
}

void FakePlatform::clearTrace() {
    observeActivityLog();
    trace_.clear();
}

}  // namespace fake
