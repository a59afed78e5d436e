#include "FakePlatform.hpp"

#include <stdlib.h>  // mkdtemp

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's
// days_from_civil / civil_from_days).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

const char* sinkName(Sink sink) {
    switch (sink) {
        case Sink::standardOutput: return "Stdout";
        case Sink::macOSMessageBox: return "Release";
        case Sink::messageBox: return "Status";
        case Sink::keyEquivalent: return "Key";
        case Sink::unifiedLog: return "Log";
        case Sink::activityLog: return "ActivityLog";
        case Sink::restart: return "Restart";
        case Sink::submit: return "Submit";
        case Sink::timerScheduled: return "Scheduled";
        case Sink::timerInvalidated: return "Invalidated";
        case Sink::timerFired: return "Fired";
        case Sink::replacementAnswer: return "Answer";
        case Sink::terminate: return "Terminate";
    }
    return "?";
}

// Quoted, escaped, and cut after 160 bytes so a 1 MiB text stays readable.
std::string escapedText(std::string_view text) {
    constexpr std::size_t limit = 160;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out += "\"";
    if (text.size() > limit) {
        out += "...(" + std::to_string(text.size()) + " bytes)";
    }
    return out;
}

Event makeEvent(double time, Sink sink) {
    Event event;
    event.time = time;
    event.sink = sink;
    return event;
}

}  // namespace

// ---------------------------------------------------------------- the trace

std::ostream& operator<<(std::ostream& out, const Event& event) {
    out << sinkName(event.sink) << "(" << event.time;
    switch (event.sink) {
        case Sink::standardOutput:
        case Sink::macOSMessageBox:
        case Sink::messageBox:
        case Sink::keyEquivalent:
        case Sink::activityLog:
            out << ", " << escapedText(event.text);
            break;
        case Sink::unifiedLog:
            out << ", " << escapedText(event.text) << ", {";
            for (std::size_t i = 0; i < event.arguments.size(); ++i) {
                out << (i ? ", " : "");
                if (const auto* integer = std::get_if<std::int64_t>(&event.arguments[i])) {
                    out << *integer;
                } else {
                    out << escapedText(std::get<std::string>(event.arguments[i]));
                }
            }
            out << "}";
            break;
        case Sink::restart:
            break;
        case Sink::submit:
            out << ", " << (event.number == 0 ? "activation" : "deactivation") << ", "
                << escapedText(event.text) << ", delegate " << event.object << ", queue " << event.queue;
            break;
        case Sink::timerScheduled:
            out << ", #" << event.number << ", " << event.seconds << " s, target " << event.object
                << (event.repeats ? ", repeats" : "");
            break;
        case Sink::timerInvalidated:
        case Sink::timerFired:
            out << ", #" << event.number;
            break;
        case Sink::replacementAnswer:
            out << ", " << event.number;
            break;
        case Sink::terminate:
            out << ", sender " << event.object;
            break;
    }
    return out << ")";
}

std::string describe(const Trace& trace) {
    std::ostringstream out;
    for (const Event& event : trace) {
        out << "  " << event << "\n";
    }
    return out.str();
}

Event Stdout(double time, std::string bytes) {
    Event e = makeEvent(time, Sink::standardOutput);
    e.text = std::move(bytes);
    return e;
}
Event Release(double time, std::string text) {
    Event e = makeEvent(time, Sink::macOSMessageBox);
    e.text = std::move(text);
    return e;
}
Event Status(double time, std::string text) {
    Event e = makeEvent(time, Sink::messageBox);
    e.text = std::move(text);
    return e;
}
Event Key(double time, std::string key) {
    Event e = makeEvent(time, Sink::keyEquivalent);
    e.text = std::move(key);
    return e;
}
Event Log(double time, std::string format, std::vector<Argument> arguments) {
    Event e = makeEvent(time, Sink::unifiedLog);
    e.text = std::move(format);
    e.arguments = std::move(arguments);
    return e;
}
Event ActivityLog(double time, std::string bytes) {
    Event e = makeEvent(time, Sink::activityLog);
    e.text = std::move(bytes);
    return e;
}
Event Restart(double time) { return makeEvent(time, Sink::restart); }
Event Submit(double time, platform::RequestKind kind, std::string identifier, const void* delegate,
             const void* queue) {
    Event e = makeEvent(time, Sink::submit);
    e.number = kind == platform::RequestKind::activation ? 0 : 1;
    e.text = std::move(identifier);
    e.object = delegate;
    e.queue = queue;
    return e;
}
Event Scheduled(double time, std::int64_t timerId, double seconds, const void* target, bool repeats) {
    Event e = makeEvent(time, Sink::timerScheduled);
    e.number = timerId;
    e.seconds = seconds;
    e.object = target;
    e.repeats = repeats;
    return e;
}
Event Invalidated(double time, std::int64_t timerId) {
    Event e = makeEvent(time, Sink::timerInvalidated);
    e.number = timerId;
    return e;
}
Event Fired(double time, std::int64_t timerId) {
    Event e = makeEvent(time, Sink::timerFired);
    e.number = timerId;
    return e;
}
Event Answer(double time, std::int64_t value) {
    Event e = makeEvent(time, Sink::replacementAnswer);
    e.number = value;
    return e;
}
Event Terminate(double time, const void* sender) {
    Event e = makeEvent(time, Sink::terminate);
    e.object = sender;
    return e;
}

// ---------------------------------------------------------------- the window's objects

void FakeTextField::setStringValue(std::string_view text) {
    value_ = std::string(text);
    Event e = makeEvent(0, sink_);
    e.text = value_;
    fake_->record(std::move(e));
}

void FakeButton::setKeyEquivalent(std::string_view key) {
    key_ = std::string(key);
    fake_->record(Key(0, key_));
}

// ---------------------------------------------------------------- timers

void FakeTimer::invalidate() {
    if (owner_ != nullptr) {
        owner_->invalidateTimer(*this);
    } else if (state_ == State::scheduled) {
        state_ = State::invalidated;
    }
}

double FakeTimer::fireTime() const { return toSeconds(fireAt_); }
double FakeTimer::interval() const { return toSeconds(intervalNs_); }

// ---------------------------------------------------------------- the main queue

class FakePlatform::MainQueue final : public platform::DispatchQueue {
public:
    explicit MainQueue(FakePlatform& fake) : fake_(&fake) {}
    void async(std::function<void()> work) override { fake_->post(std::move(work)); }

private:
    FakePlatform* fake_;
};

// ---------------------------------------------------------------- the fake

FakePlatform::FakePlatform() : mainQueue_(std::make_unique<MainQueue>(*this)) {
    if (currentFake != nullptr) {
        std::fprintf(stderr, "fake::FakePlatform: only one may exist at a time\n");
        std::abort();
    }
    std::string pattern = (fs::temp_directory_path() / "veltrin-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("fake::FakePlatform: mkdtemp");
        std::abort();
    }
    temporaryRoot_ = pattern;
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
    fs::remove_all(temporaryRoot_, ignored);
}

FakePlatform& FakePlatform::current() {
    if (currentFake == nullptr) {
        std::fprintf(stderr, "fake::FakePlatform: a seam function was called with no fake in place\n");
        std::abort();
    }
    return *currentFake;
}

void FakePlatform::setStartDateTime(platform::LocalDateTime start) {
    const std::int64_t days = daysFromCivil(start.year, static_cast<unsigned>(start.month),
                                            static_cast<unsigned>(start.day));
    startSecondsOfEpoch_ = days * 86400 + start.hour * 3600 + start.minute * 60 + start.second;
}

platform::LocalDateTime FakePlatform::localDateTime() const {
    const std::int64_t total = startSecondsOfEpoch_ + floorDiv(nowNs_, nanosPerSecond);
    const std::int64_t days = floorDiv(total, 86400);
    const std::int64_t secondOfDay = total - days * 86400;
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);
    platform::LocalDateTime local;
    local.year = static_cast<int>(year);
    local.month = static_cast<int>(month);
    local.day = static_cast<int>(day);
    local.hour = static_cast<int>(secondOfDay / 3600);
    local.minute = static_cast<int>(secondOfDay / 60 % 60);
    local.second = static_cast<int>(secondOfDay % 60);
    return local;
}

bool FakePlatform::isAtLeast(platform::OperatingSystemVersion version) const {
    if (release_.major != version.major) {
        return release_.major > version.major;
    }
    if (release_.minor != version.minor) {
        return release_.minor > version.minor;
    }
    return release_.patch >= version.patch;
}

// ---- the activity log

void FakePlatform::setHomeDirectoryName(const std::string& name) {
    home_ = temporaryRoot_ + "/" + name;
    fs::create_directories(home_);
    activityLogSeen_ = 0;
}

std::string FakePlatform::activityLogPath() const { return home_ + "/veltrinLogFile.txt"; }

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

double FakePlatform::now() const { return toSeconds(nowNs_); }

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
    if (firing->repeats_) {
        firing->fireAt_ += std::max<std::int64_t>(1, firing->intervalNs_);
        firing->order_ = nextOrder_++;
    } else {
        firing->state_ = FakeTimer::State::fired;
    }
    firing->target_->fireTimer();
    return true;
}

void FakePlatform::runUntilIdle() { runUntil(now()); }

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

std::size_t FakePlatform::pendingTaskCount() const {
    return posted_.size() +
           static_cast<std::size_t>(std::count_if(timers_.begin(), timers_.end(), [](const auto& t) {
               return t->state_ == FakeTimer::State::scheduled;
           }));
}

std::shared_ptr<platform::Timer> FakePlatform::scheduleTimer(double seconds,
                                                             platform::TimerTarget& target,
                                                             bool repeats) {
    auto timer = std::shared_ptr<FakeTimer>(new FakeTimer());
    timer->owner_ = this;
    timer->id_ = static_cast<std::int64_t>(timers_.size()) + 1;
    timer->intervalNs_ = std::max<std::int64_t>(0, toNanos(seconds));
    timer->fireAt_ = nowNs_ + timer->intervalNs_;
    timer->order_ = nextOrder_++;
    timer->repeats_ = repeats;
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

std::vector<std::int64_t> FakePlatform::scheduledTimerIds() const {
    std::vector<std::int64_t> ids;
    for (const auto& timer : timers_) {
        if (timer->state_ == FakeTimer::State::scheduled) {
            ids.push_back(timer->id_);
        }
    }
    return ids;
}

platform::DispatchQueue& FakePlatform::mainQueue() { return *mainQueue_; }

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

void FakePlatform::submit(std::shared_ptr<platform::SystemExtensionRequest> request) {
    const platform::SystemExtensionRequestDelegate* delegate = request->delegate();
    record(Submit(0, request->kind(), request->identifier(),
                  delegate != nullptr ? address(*delegate) : nullptr, address(request->queue())));
    requests_.push_back(std::move(request));
}

platform::SystemExtensionRequest& FakePlatform::request(std::size_t index) {
    if (index >= requests_.size()) {
        std::fprintf(stderr, "fake::FakePlatform: no request #%zu was submitted\n", index);
        std::abort();
    }
    return *requests_[index];
}

void FakePlatform::answerFinished(std::size_t index, platform::Result result) {
    auto& req = request(index);
    req.queue().async([&req, result] {
        if (auto* delegate = req.delegate()) {
            delegate->requestDidFinishWithResult(req, result);
        }
    });
}

void FakePlatform::answerFailed(std::size_t index, std::string localizedDescription) {
    auto& req = request(index);
    platform::Error error{"OSSystemExtensionErrorDomain", 1, std::move(localizedDescription)};
    req.queue().async([&req, error = std::move(error)] {
        if (auto* delegate = req.delegate()) {
            delegate->requestDidFailWithError(req, error);
        }
    });
}

void FakePlatform::answerNeedsApproval(std::size_t index) {
    auto& req = request(index);
    req.queue().async([&req] {
        if (auto* delegate = req.delegate()) {
            delegate->requestNeedsUserApproval(req);
        }
    });
}

void FakePlatform::answerReplacement(std::size_t index, std::string existingShortVersion,
                                     std::string newShortVersion) {
    auto& req = request(index);
    platform::ExtensionProperties existing{req.identifier(), existingShortVersion,
                                           std::move(existingShortVersion)};
    platform::ExtensionProperties offered{req.identifier(), newShortVersion,
                                          std::move(newShortVersion)};
    req.queue().async([this, &req, existing = std::move(existing), offered = std::move(offered)] {
        if (auto* delegate = req.delegate()) {
            const platform::ReplacementAction answer =
                delegate->requestActionForReplacingExtension(req, existing, offered);
            record(Answer(0, answer));
        }
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
