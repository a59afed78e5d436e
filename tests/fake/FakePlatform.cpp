#include "FakePlatform.hpp"

#include <stdlib.h>  // mkdtemp

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "platform/Timer.hpp"
#include "platform/UnifiedLog.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

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

void resetLauncherState() {
    launcher::commandLineMode = launcher::interactiveInstall = launcher::keepRunning = false;
    launcher::statusQuery = launcher::boundedWait = launcher::outcomeArrived = false;
    launcher::exitTimer.reset();
    launcher::logFileURL.reset();
}

class FakeTimer final : public platform::Timer {
  public:
    explicit FakeTimer(int number) : id(number) {}
    void invalidate() override {
        FakePlatform::current().record("Invalidated", "#" + std::to_string(id));
        scheduled = false;
    }
    const int id;
    bool scheduled = true;
};

class FakeRequest final : public platform::SystemExtensionRequest {
  public:
    FakeRequest(const char* k, std::string identifier, platform::DispatchQueue& q)
        : kind(k), identifier_(std::move(identifier)), queue(&q) {}
    std::string identifier() const override { return identifier_; }
    void setDelegate(platform::SystemExtensionRequestDelegate* d) override { delegate = d; }

    const char* const kind;
    const std::string identifier_;
    platform::DispatchQueue* const queue;
    platform::SystemExtensionRequestDelegate* delegate = nullptr;
};

// The window, the quit button or a text field whose texts go to the trace as `sink`.
class FakeOutlet final : public platform::Window,
                         public platform::TextField,
                         public platform::Button {
  public:
    explicit FakeOutlet(const char* sink = "") : sink_(sink) {}
    void setStringValue(std::string_view text) override {
        FakePlatform::current().record(sink_, std::string(text));
    }
    void setKeyEquivalent(std::string_view key) override {
        FakePlatform::current().record("Key", std::string(key));
    }

  private:
    const char* sink_;
};

}  // namespace

std::string lines(const Trace& trace) {
    const auto plain = [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; };
    std::string out;
    for (const Entry& e : trace) {
        const std::string line = number(static_cast<double>(e.ns) / 1e9) + " " + e.sink +
                                 (e.what.empty() ? "" : " ") + e.what;
        // Plain bytes a run at a time: a trace may hold mebibytes.
        for (auto at = line.begin(); at != line.end();) {
            const auto end = std::find_if_not(at, line.end(), plain);
            out.append(at, end);
            for (at = end; at != line.end() && !plain(*at); ++at) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(*at));
                out += escaped;
            }
        }
        out += '\n';
    }
    return out;
}

std::vector<platform::ExtensionProperties> versions(const std::string& identifier,
                                                    std::string_view states) {
    std::vector<platform::ExtensionProperties> made;
    for (const char state : states) {
        const std::string n = std::to_string(made.size() + 1);
        made.push_back({identifier, n, "1." + n, state == 'e', state == 'a' || state == 'b',
                        state == 'u' || state == 'b'});
    }
    return made;
}

std::string wholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(file), {}};
}

std::string dateAt(double seconds) {
    const auto t = static_cast<long>(7 * 3600 + 41 * 60 + 39 + seconds);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02ld/12/2026 %02ld:%02ld:%02ld", 5 + t / 86400,
                  t / 3600 % 24, t / 60 % 60, t % 60);
    return stamp;
}

FakePlatform::FakePlatform() {
    std::string pattern = (fs::temp_directory_path() / "veltrin-home-XXXXXX").string();
    if (currentFake != nullptr || ::mkdtemp(pattern.data()) == nullptr) {
        throw std::logic_error("fake::FakePlatform: one at a time, in a temporary directory");
    }
    home = pattern;
    currentFake = this;
    resetLauncherState();
}

FakePlatform::~FakePlatform() {
    resetLauncherState();
    currentFake = nullptr;
    std::error_code ignored;
    fs::remove_all(home, ignored);
}

FakePlatform& FakePlatform::current() {
    if (currentFake == nullptr) {
        throw std::logic_error("fake::FakePlatform: a seam function was called with no fake");
    }
    return *currentFake;
}

void FakePlatform::createActivityLog(std::string_view initialBytes) {
    std::ofstream(activityLogPath(), std::ios::binary | std::ios::trunc) << initialBytes;
    activityLogSeen_ = initialBytes.size();
}

std::optional<std::string> FakePlatform::activityLogBytes() const {
    std::error_code error;
    return fs::is_regular_file(activityLogPath(), error)
               ? std::optional(wholeFile(activityLogPath()))
               : std::nullopt;
}

// Whatever was appended since the last look becomes one entry, at the current
// time, so that each write lands between the right neighbours. A file that went
// or shrank starts afresh. The size alone says when nothing changed.
void FakePlatform::observeActivityLog() {
    std::error_code error;
    if (fs::file_size(activityLogPath(), error) == activityLogSeen_ && !error) {
        return;
    }
    const std::string bytes = activityLogBytes().value_or("");
    if (bytes.size() > activityLogSeen_) {
        trace_.push_back({nowNs, "ActivityLog", bytes.substr(activityLogSeen_)});
    }
    activityLogSeen_ = bytes.size();
}

void FakePlatform::launch(const std::vector<std::string>& flags) {
    arguments = {std::string(programPath)};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    delegate = platform::instantiateLayoutDelegate();
    quitButton = std::make_shared<FakeOutlet>();
    if (outletsConnected) {
        delegate->setWindow(std::make_shared<FakeOutlet>());
        delegate->setQuitButton(quitButton);
        delegate->setMessageBox(std::make_shared<FakeOutlet>("Status"));
        delegate->setMacOSMessageBox(std::make_shared<FakeOutlet>("Release"));
    }
    if (delegate->showsWindowAtLaunch()) {
        record("Window");
    }
    delegate->applicationDidFinishLaunching();
    runUntil(now());
}

void FakePlatform::play(const std::string& script, const std::string& outside) {
    std::istringstream words(script);
    for (std::string step; words >> step;) {
        std::vector<std::string> f;  // the word, then its fields
        std::istringstream fields(step);
        for (std::string field; std::getline(fields, field, ':');) {
            f.push_back(field == "$" ? outside : field == "$!" ? outside + "!" : field);
        }
        f.resize(3);
        const std::string word = f[0].substr(0, f[0].find('@'));
        if (word[0] == 't') {
            runUntil(std::stod(word.substr(1)));
            continue;
        }
        if (word == "load" || word == "disable" || word == "quit") {
            post([this, word] {
                word == "load"      ? delegate->loadDriverWithSender(nullptr)
                : word == "disable" ? delegate->disableDriverWithSender(nullptr)
                                    : end(dynamic_cast<const void*>(quitButton.get()));
            });
            continue;
        }
        auto& r = static_cast<FakeRequest&>(
            *requests.at(word.size() < f[0].size() ? std::stoul(f[0].substr(word.size() + 1)) : 0));
        platform::dispatchAsync(*r.queue, [this, &r, word, f] {
            platform::SystemExtensionRequestDelegate& d = *r.delegate;
            const std::string id = r.identifier();
            if (word[0] == 'r') {
                d.requestDidFinishWithResult(r, std::stoll(word.substr(1)));
            } else if (word == "fail") {
                d.requestDidFailWithError(r, {std::string(platform::systemExtensionErrorDomain),
                                              platform::SystemExtensionErrorCode::unknown, f[1]});
            } else if (word == "approve") {
                d.requestNeedsUserApproval(r);
            } else if (word == "swap") {
                record("Answer", std::to_string(d.requestActionForReplacingExtension(
                                     r, {id, f[1], f[1]}, {id, f[2], f[2]})));
            } else if (word == "found") {
                d.requestFoundProperties(r, versions(id, f[1]));
            } else {
                throw std::logic_error("fake::FakePlatform: unknown step " + word);
            }
        });
    }
}

void FakePlatform::runUntil(double time) {
    const std::int64_t limit = std::max(toNanos(time), nowNs);
    for (;;) {
        const auto next = std::ranges::min_element(
            due_, {}, [](const Due& d) { return std::pair(d.at, d.order); });
        if (ended_ || next == due_.end() || next->at > limit) {
            break;
        }
        observeActivityLog();
        nowNs = std::max(nowNs, next->at);
        const std::function<void()> work = std::move(next->work);
        due_.erase(next);
        work();
    }
    if (!ended_) {
        observeActivityLog();
        nowNs = limit;
    }
}

void FakePlatform::end(const void* sender) {
    record("Terminate", name(sender));
    if (!std::exchange(ended_, true)) {
        delegate->applicationWillTerminate();
    }
}

void FakePlatform::record(std::string sink, std::string what) {
    observeActivityLog();
    trace_.push_back({nowNs, std::move(sink), std::move(what)});
}

// Objects by their most-derived address, which is what the seam hands over.
std::string FakePlatform::name(const void* object) const {
    const auto is = [object](const auto* candidate) {
        return candidate != nullptr && dynamic_cast<const void*>(candidate) == object;
    };
    return object == nullptr                                             ? "none"
           : is(delegate.get())                                          ? "app"
           : is(quitButton.get())                                        ? "quit"
           : object == static_cast<const platform::DispatchQueue*>(this) ? "main"
                                                                         : "other";
}

}  // namespace fake

// The seam's free functions, each handed to the fake platform in place; the
// tests start the launcher with FakePlatform::launch instead of applicationMain.
namespace platform {

using fake::FakePlatform;

void terminate(ApplicationDelegate& sender) {
    FakePlatform::current().end(dynamic_cast<const void*>(&sender));
}

void setExitStatus(int status) {
    FakePlatform::current().exitStatus = status;
}

std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds, TimerTarget& target,
                                                      bool repeats) {
    FakePlatform& fake = FakePlatform::current();
    auto timer = std::make_shared<fake::FakeTimer>(++fake.timerCount);
    fake.record("Scheduled", "#" + std::to_string(timer->id) + " " + fake::number(seconds) + " " +
                                 fake.name(dynamic_cast<const void*>(&target)) +
                                 (repeats ? " repeats" : ""));
    // The work holds the timer, so it lives while it fires whatever the target drops.
    fake.post(
        [&fake, timer, &target] {
            if (std::exchange(timer->scheduled, false)) {
                fake.record("Fired", "#" + std::to_string(timer->id));
                target.fireTimer();
            }
        },
        fake::toNanos(seconds));
    return timer;
}

void sleepForTimeInterval(double seconds) {
    FakePlatform& fake = FakePlatform::current();
    fake.observeActivityLog();
    fake.nowNs += fake::toNanos(seconds);
}

DispatchQueue& mainQueue() {
    return FakePlatform::current();
}

void dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    static_cast<FakePlatform&>(queue).post(std::move(work));
}

bool isOperatingSystemAtLeastVersion(OperatingSystemVersion version) {
    const OperatingSystemVersion& running = FakePlatform::current().release;
    return std::tie(running.major, running.minor, running.patch) >=
           std::tie(version.major, version.minor, version.patch);
}

std::string homeDirectoryForCurrentUser() {
    return FakePlatform::current().home;
}

void requestRestart() {
    FakePlatform::current().record("Restart");
}

void writeStandardOutput(std::string_view bytes) {
    FakePlatform::current().record("Stdout", std::string(bytes));
}

void writeStandardError(std::string_view bytes) {
    FakePlatform::current().record("Stderr", std::string(bytes));
}

std::string approvalHint(std::string_view extensionIdentifier) {
    return "approve " + std::string(extensionIdentifier) + "\n";
}

std::vector<std::string> processArguments() {
    return FakePlatform::current().arguments;
}

// Only the launcher's pattern is known: any other comes back as written, for a
// test to see.
std::string stringFromCurrentDate(std::string_view dateFormat) {
    return dateFormat == "dd/MM/yyyy HH:mm:ss" ? fake::dateAt(FakePlatform::current().now())
                                               : std::string(dateFormat);
}

bool osLogDefaultTypeEnabled() {
    return FakePlatform::current().osLogDefaultTypeEnabled;
}

void osLog(LogFormat format, std::span<const LogArgument> arguments) {
    std::string entry(format.text());
    for (const LogArgument& argument : arguments) {
        const auto* integer = std::get_if<std::int64_t>(&argument);
        entry += integer != nullptr ? " | #" + std::to_string(*integer)
                                    : " | " + std::string(std::get<std::string_view>(argument));
    }
    FakePlatform::current().record("Log", entry);
}

std::shared_ptr<SystemExtensionRequest> activationRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<fake::FakeRequest>("activation", std::move(identifier), queue);
}

std::shared_ptr<SystemExtensionRequest> deactivationRequestForExtension(std::string identifier,
                                                                        DispatchQueue& queue) {
    return std::make_shared<fake::FakeRequest>("deactivation", std::move(identifier), queue);
}

std::shared_ptr<SystemExtensionRequest> propertiesRequestForExtension(std::string identifier,
                                                                      DispatchQueue& queue) {
    return std::make_shared<fake::FakeRequest>("properties", std::move(identifier), queue);
}

// Only the functions above make requests under the fake.
void submitRequest(std::shared_ptr<SystemExtensionRequest> request) {
    FakePlatform& fake = FakePlatform::current();
    const auto& made = static_cast<const fake::FakeRequest&>(*request);
    fake.record("Submit", std::string(made.kind) + " " + made.identifier() + " " +
                              fake.name(dynamic_cast<const void*>(made.delegate)) + " " +
                              fake.name(made.queue));
    fake.requests.push_back(std::move(request));
}

}  // namespace platform
