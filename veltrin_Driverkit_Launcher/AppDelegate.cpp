#include "AppDelegate.hpp"

#include "DextIdentifier.hpp"
#include "LauncherState.hpp"

namespace launcher {

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::setWindow(std::shared_ptr<platform::Window> window) {
    window_ = std::move(window);
}
void AppDelegate::setQuitButton(std::shared_ptr<platform::Button> button) {
    quitButton_ = std::move(button);
}
void AppDelegate::setMessageBox(std::shared_ptr<platform::TextField> field) {
    messageBox_ = std::move(field);
}
void AppDelegate::setMacOSMessageBox(std::shared_ptr<platform::TextField> field) {
    macOSMessageBox_ = std::move(field);
}

void AppDelegate::loadDriverWithSender(const void* /*sender*/) {
    activateDriver();
}
void AppDelegate::disableDriverWithSender(const void* /*sender*/) {
    deactivateDriver();
}

void AppDelegate::activateDriver() {
    submit(platform::activationRequestForExtension(std::string(dextIdentifier),
                                                   platform::mainQueue()));
}

void AppDelegate::deactivateDriver() {
    submit(platform::deactivationRequestForExtension(std::string(dextIdentifier),
                                                     platform::mainQueue()));
}

void AppDelegate::submit(std::shared_ptr<platform::SystemExtensionRequest> request) {
    request->setDelegate(this);
    platform::submitRequest(std::move(request));
}

void AppDelegate::fireTimer() {
    // Under -wait only an outcome or the deadline ends the run.
    if (keepRunning || (boundedWait && !outcomeArrived)) {
        return;
    }
    platform::terminate(*this);
}

void AppDelegate::WaitDeadline::fireTimer() {
    if (!outcomeArrived) {
        platform::terminate(*application_);
    }
}

void AppDelegate::endWithStatus(int status) {
    platform::setExitStatus(status);
    platform::terminate(*this);
}

void AppDelegate::applicationWillTerminate() {}

// A layout without a status line is not one we ship, but a missing outlet must
// not take the process down with it: the report still reaches the other sinks.
void AppDelegate::showStatus(std::string_view text) {
    if (messageBox_) {
        messageBox_->setStringValue(text);
    }
}

// The timer held before is left running, on purpose: only an approval cancels
// one (ScenarioTest.TraceOfEverySink/UnexpectedMaxStaysOpen fires both).
void AppDelegate::scheduleExitTimer() {
    exitTimer = platform::scheduledTimerWithTimeInterval(exitTimerSeconds, *this, false);
}

}  // namespace launcher

std::unique_ptr<platform::ApplicationDelegate> platform::instantiateLayoutDelegate() {
    return std::make_unique<launcher::AppDelegate>();
}
