// The application's life on Qt: the command line is copied, a display is
// chosen, the window is built and connected to the delegate, the launch is
// delivered from inside the loop, and the loop runs until something quits.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "BackendLifecycle.hpp"
#include "LauncherWindow.hpp"
#include "QuitSignals.hpp"
#include "platform/Application.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/posix/ExitStatus.hpp"
#include "platform/posix/ProcessArguments.hpp"
#include "platform/posix/StandardDescriptors.hpp"
#include "platform/posix/WriteFailureSignals.hpp"

namespace platform {

namespace {

// Main thread only.
ApplicationDelegate* runningDelegate = nullptr;
bool willTerminateDelivered = false;

// Every way out of the loop passes here, whoever asked Qt to quit, and the
// delegate hears it once.
void deliverWillTerminateOnce() {
    if (willTerminateDelivered || runningDelegate == nullptr) {
        return;
    }
    willTerminateDelivered = true;
    runningDelegate->applicationWillTerminate();
}

bool isSetAndNotEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Qt's own order of preference (Wayland, then X11, as their variables say), or
// the platform the user named, with the offscreen platform as the last resort:
// over ssh and in CI there is no display, or a DISPLAY left behind that nothing
// answers, or a platform that is not installed, and Qt would abort where the
// launcher can do its work without a screen. A platform that starts but finds
// no screen (linuxfb without a framebuffer) is replaced in applicationMain; one
// whose plugin aborts the process while it starts (eglfs without a DRM device)
// is beyond the launcher's reach.
void choosePlatformWithOffscreenFallback() {
    std::string order;
    if (isSetAndNotEmpty("QT_QPA_PLATFORM")) {
        order = std::getenv("QT_QPA_PLATFORM");
        order += ';';
    } else {
        if (isSetAndNotEmpty("WAYLAND_DISPLAY")) {
            order += "wayland;";
        }
        if (isSetAndNotEmpty("DISPLAY")) {
            order += "xcb;";
        }
    }
    order += "offscreen";
    ::setenv("QT_QPA_PLATFORM", order.c_str(), 1);
}

bool isPrivateDirectoryOfOurs(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

// Outside a desktop session (ssh, cron, a bare console) nothing has made the
// per-user runtime directory; Qt would complain about it on every run. One
// private directory per user in the temporary folder, reused from run to run,
// or a fresh one when that name is taken by someone else.
void ensureRuntimeDirectory() {
    if (isSetAndNotEmpty("XDG_RUNTIME_DIR")) {
        return;
    }
    const char* temporary = std::getenv("TMPDIR");
    std::string path = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    path += "/veltrin-runtime-" + std::to_string(::geteuid());
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return;
    }
    if (!isPrivateDirectoryOfOurs(path)) {
        std::string pattern = path + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        path = pattern;
    }
    ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
}

}  // namespace

int applicationMain(int argc, char** argv) {
    posix::openNullOnClosedStandardDescriptors();
    posix::rememberProcessArguments(argc, argv);
    posix::ignoreWriteFailureSignals();
    choosePlatformWithOffscreenFallback();
    ensureRuntimeDirectory();

    // The command line is the launcher's own: Qt is given the program name alone,
    // so that an argument such as -platform or -style cannot make it abort or
    // change its look. QApplication keeps a reference to the count for its life.
    int qtArgc = argc > 0 ? 1 : 0;
    std::optional<QApplication> application(std::in_place, qtArgc, argv);
    if (QGuiApplication::primaryScreen() == nullptr) {
        application.reset();
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        application.emplace(qtArgc, argv);
    }
    // Closing the window quits through terminate, not behind the delegate's back.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&*application, &QCoreApplication::aboutToQuit, deliverWillTerminateOnce);
    qt::QuitSignals quitSignals;

    qt::LauncherWindow window;
    const std::unique_ptr<ApplicationDelegate> delegate = instantiateLayoutDelegate();
    window.connectTo(*delegate);
    runningDelegate = delegate.get();

    if (delegate->showsWindowAtLaunch()) {
        window.show();
        window.activateWindow();
    }
    dispatchAsync(mainQueue(), [&delegate] { delegate->applicationDidFinishLaunching(); });
    QApplication::exec();

    qt::closeMainQueue();
    qt::invalidateAllTimers();
    runningDelegate = nullptr;
    return posix::exitStatus();
}

void qt::quitApplication() {
    deliverWillTerminateOnce();
    QCoreApplication::quit();
}

void terminate(ApplicationDelegate& /*sender*/) {
    qt::quitApplication();
}

}  // namespace platform
