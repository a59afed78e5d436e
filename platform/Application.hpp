// The application service: the main function that loads the window layout and
// runs the main loop, the layout's objects, and termination.
#pragma once

#include <memory>
#include <string_view>

namespace platform {

class Window {
  public:
    virtual ~Window() = default;
};

class TextField {
  public:
    virtual ~TextField() = default;
    // Replaces the whole shown text.
    virtual void setStringValue(std::string_view text) = 0;
};

class Button {
  public:
    virtual ~Button() = default;
    // A one-character text; pressing that key activates the button ("\r" is Return).
    virtual void setKeyEquivalent(std::string_view key) = 0;
};

// What the window layout talks to: the application's delegate, the owner of the
// four outlets and the target of the two buttons.
class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;

    // The layout connects each of its outlets once, before anything else is
    // asked of the delegate; an outlet the layout lacks stays unset.
    virtual void setWindow(std::shared_ptr<Window> window) = 0;
    virtual void setQuitButton(std::shared_ptr<Button> button) = 0;
    virtual void setMessageBox(std::shared_ptr<TextField> field) = 0;
    virtual void setMacOSMessageBox(std::shared_ptr<TextField> field) = 0;

    // The Load and Disable buttons' actions, on the main thread; the sender is
    // not looked at.
    virtual void loadDriverWithSender(const void* sender) = 0;
    virtual void disableDriverWithSender(const void* sender) = 0;

    // Asked once, before the layout's window is shown: a run that only reports
    // (and ends at once) shows none.
    virtual bool showsWindowAtLaunch() { return true; }
    // Once, on the main thread, from the main loop, after the outlets are connected.
    virtual void applicationDidFinishLaunching() = 0;
    // Once, on the main thread, before the application ends, however it ends.
    virtual void applicationWillTerminate() = 0;
};

// The class that the window layout instantiates. The application defines it,
// not a backend, the way a layout file names its delegate class.
std::unique_ptr<ApplicationDelegate> instantiateLayoutDelegate();

// Loads the layout (which creates the delegate and connects its outlets and
// actions), delivers applicationDidFinishLaunching, runs the main loop. Returns
// the exit status once the application has ended.
int applicationMain(int argc, char** argv);

// The status the process ends with, however the application comes to end
// (terminate, the user's quit, a quit signal); 0 unless set.
void setExitStatus(int status);

// Ends the application; the delegate gets applicationWillTerminate first. The
// sender is the layout's delegate object, which every backend has its own
// object for.
void terminate(ApplicationDelegate& sender);

}  // namespace platform
