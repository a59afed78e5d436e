// The one application object: delegate of the application and of every request,
// owner of the window's four outlets, target of the window's buttons and of the
// exit timers.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "platform/Application.hpp"
#include "platform/SystemExtensions.hpp"
#include "platform/Timer.hpp"

namespace launcher {

class AppDelegate final : public platform::ApplicationDelegate,
                          public platform::TimerTarget,
                          public platform::SystemExtensionRequestDelegate {
  public:
    void setWindow(std::shared_ptr<platform::Window> window) override;
    void setQuitButton(std::shared_ptr<platform::Button> button) override;
    void setMessageBox(std::shared_ptr<platform::TextField> field) override;
    void setMacOSMessageBox(std::shared_ptr<platform::TextField> field) override;

    void loadDriverWithSender(const void* sender) override;
    void disableDriverWithSender(const void* sender) override;

    bool showsWindowAtLaunch() override;
    void applicationDidFinishLaunching() override;
    void fireTimer() override;
    void applicationWillTerminate() override;

    AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;
    ~AppDelegate() override;

    void requestDidFinishWithResult(platform::SystemExtensionRequest& request,
                                    platform::Result result) override;
    void requestDidFailWithError(platform::SystemExtensionRequest& request,
                                 const platform::Error& error) override;
    void requestNeedsUserApproval(platform::SystemExtensionRequest& request) override;
    platform::ReplacementAction requestActionForReplacingExtension(
        platform::SystemExtensionRequest& request, const platform::ExtensionProperties& existing,
        const platform::ExtensionProperties& replacement) override;
    void requestFoundProperties(
        platform::SystemExtensionRequest& request,
        const std::vector<platform::ExtensionProperties>& properties) override;

  private:
    // -wait's deadline: it ends a run that no outcome has ended yet.
    class WaitDeadline final : public platform::TimerTarget {
      public:
        explicit WaitDeadline(AppDelegate& application) : application_(&application) {}
        void fireTimer() override;

      private:
        AppDelegate* application_;
    };

    // Internal: reached through the buttons and the launch sequence only.
    void activateDriver();
    void deactivateDriver();
    void submit(std::shared_ptr<platform::SystemExtensionRequest> request);

    void showStatus(std::string_view text);
    void scheduleExitTimer();
    void endWithStatus(int status);

    // Nothing reads it; holding it is its job. The layout connects the window as
    // it does the other outlets, and outlets are strong: the delegate keeps the
    // window alive for as long as itself (on macOS CocoaWindow retains the
    // NSWindow, platform/cocoa/Application.mm).
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::Button> quitButton_;
    std::shared_ptr<platform::TextField> messageBox_;
    std::shared_ptr<platform::TextField> macOSMessageBox_;
    WaitDeadline waitDeadline_{*this};
};

// Pause after a request's answer before the exit timer is armed, and the exit
// timer. The pause blocks, on purpose: no other answer, press or timer runs
// until it is over (ScenarioTest.TraceOfEverySink/ApprovalsThenFailureAndUnexpectedArmNoTimer).
inline constexpr double settlingPauseSeconds = 1.0;
inline constexpr double exitTimerSeconds = 5.0;

}  // namespace launcher
