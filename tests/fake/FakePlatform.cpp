#include "FakePlatform.hpp"

#include <stdlib.h>  // mkdtemp

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
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

}  // namespace

std::string lines(const Trace& trace) {
    std::string out;
    for (const std::string& entry : trace) {
        for (const char c : entry) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte >= 0x7F || c == '\\') {
                out += "\\x";
                out += "0123456789ABCDEF"[byte >> 4];
                out += "0123456789ABCDEF"[byte & 15];
            } else {
                out += c;
            }
        }
        out += '\n';
    }
    return out;
}

void FakeOutlet::setStringValue(std::string_view text) {
    FakePlatform::current().record(sink_ + (" " + std::string(text)));
}

void FakeOutlet::setKeyEquivalent(std::string_view key) {
    FakePlatform::current().record("Key " + std::string(key));
}

void FakeTimer::invalidate() {
    FakePlatform::current().record("Invalidated #" + std::to_string(id));
    scheduled = false;
}

FakePlatform::FakePlatform() : mainQueue_(std::make_unique<platform::DispatchQueue>(*this)) {
    if (currentFake != nullptr) {
        throw std::logic_error("fake::FakePlatform: only one may exist at a time");
    }
    std::string pattern = (fs::temp_directory_path() / "veltrin-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::logic_error("fake::FakePlatform: mkdtemp failed");
    }
    home_ = pattern;
    currentFake = this;
}

FakePlatform::~FakePlatform() {
    currentFake = nullptr;
    std::error_code ignored;
    fs::remove_all(home_, ignored);
}

FakePlatform& FakePlatform::current() {
    if (currentFake == nullptr) {
        throw std::logic_error(
            "fake::FakePlatform: a seam function was called with no fake in place");
    }
    return *currentFake;
}

bool FakePlatform::isAtLeast(platform::OperatingSystemVersion version) const {
    return std::tie(release.major, release.minor, release.patch) >=
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
    std::ostringstream bytes;
    bytes << std::ifstream(activityLogPath(), std::ios::binary).rdbuf();
    return bytes.str();
}

// Whatever was appended since the last look becomes one entry, at the current
// time, so that each write lands between the right neighbours.
// A file that went or shrank starts afresh. The size alone says when nothing changed.
void FakePlatform::observeActivityLog() {
    std::error_code error;
    if (fs::file_size(activityLogPath(), error) == activityLogSeen_ && !error) {
        return;
    }
    const std::string bytes = activityLogBytes().value_or("");
    if (bytes.size() > activityLogSeen_) {
        trace_.push_back(number(now()) + " ActivityLog " + bytes.substr(activityLogSeen_));
    }
    activityLogSeen_ = bytes.size();
}

int FakePlatform::launch(const std::vector<std::string>& flags) {
    arguments_ = {std::string(programPath)};
    arguments_.insert(arguments_.end(), flags.begin(), flags.end());
    delegate_ = platform::instantiateLayoutDelegate();
    quitButton_ = std::make_shared<FakeOutlet>();
    if (outletsConnected) {
        delegate_->setWindow(std::make_shared<FakeOutlet>());
        delegate_->setQuitButton(quitButton_);
        delegate_->setMessageBox(std::make_shared<FakeOutlet>("Status"));
        delegate_->setMacOSMessageBox(std::make_shared<FakeOutlet>("Release"));
    }
    windowShown = delegate_->showsWindowAtLaunch();
    delegate_->applicationDidFinishLaunching();
    runUntilIdle();
    return exitStatus;
}

void FakePlatform::advanceClock(double seconds) {
    observeActivityLog();
    nowNs_ += toNanos(seconds);
}

void FakePlatform::post(std::function<void()> work) {
    due_.push_back({nowNs_, nextOrder_++, std::move(work)});
}

// Runs the one thing that became due first, if it is due by `limit` or by now.
// False when none is.
bool FakePlatform::runNextDue(std::int64_t limit) {
    const auto next =
        std::ranges::min_element(due_, {}, [](const Due& d) { return std::pair(d.at, d.order); });
    if (ended_ || next == due_.end() || next->at > std::max(limit, nowNs_)) {
        return false;
    }
    if (next->at > nowNs_) {
        observeActivityLog();
        nowNs_ = next->at;
    }
    const std::function<void()> work = std::move(next->work);
    due_.erase(next);
    work();
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

std::shared_ptr<platform::Timer> FakePlatform::scheduleTimer(double seconds,
                                                             platform::TimerTarget& target,
                                                             bool repeats) {
    auto timer = std::make_shared<FakeTimer>(++timerCount_);
    record("Scheduled #" + std::to_string(timer->id) + " " + number(seconds) + " " +
           name(dynamic_cast<const void*>(&target)) + (repeats ? " repeats" : ""));
    // The work holds the timer, so it lives while it fires whatever the target drops.
    due_.push_back({nowNs_ + toNanos(seconds), nextOrder_++, [this, timer, &target] {
                        if (timer->scheduled) {
                            record("Fired #" + std::to_string(timer->id));
                            timer->scheduled = false;
                            target.fireTimer();
                        }
                    }});
    return timer;
}

void FakePlatform::terminate(const void* sender) {
    record("Terminate " + name(sender));
    if (!ended_) {
        ended_ = true;
        delegate_->applicationWillTerminate();
    }
}

void FakePlatform::submit(std::shared_ptr<FakeRequest> request) {
    using enum platform::RequestKind;
    record(std::string("Submit ") +
           (request->kind == activation     ? "activation "
            : request->kind == deactivation ? "deactivation "
                                            : "properties ") +
           request->identifier() + " " + name(dynamic_cast<const void*>(request->delegate)) + " " +
           name(request->queue));
    requests_.push_back(std::move(request));
}

void FakePlatform::deliver(
    std::size_t index,
    std::function<void(platform::SystemExtensionRequestDelegate&, FakeRequest&)> call) {
    if (index >= requests_.size()) {
        throw std::logic_error(
            "fake::FakePlatform: an answer to a request that was never submitted");
    }
    FakeRequest& request = *requests_[index];
    request.queue->async([&request, call = std::move(call)] { call(*request.delegate, request); });
}

void FakePlatform::answerFinished(std::size_t index, platform::Result result) {
    deliver(index, [result](auto& delegate, auto& request) {
        delegate.requestDidFinishWithResult(request, result);
    });
}

void FakePlatform::answerFailed(std::size_t index, std::string localizedDescription,
                                std::int64_t code) {
    const platform::Error error{std::string(platform::systemExtensionErrorDomain), code,
                                std::move(localizedDescription)};
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

void FakePlatform::answerFoundProperties(std::size_t index,
                                         std::vector<platform::ExtensionProperties> properties) {
    deliver(index, [properties](auto& delegate, auto& request) {
        delegate.requestFoundProperties(request, properties);
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
