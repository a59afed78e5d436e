// The launcher's one window, laid out in LauncherWindow.ui. Closing it is the
// user's quit: on Linux no menu is left to quit from once it is gone.
#pragma once

#include <QWidget>
#include <memory>

#include "platform/Application.hpp"

namespace Ui {
class LauncherWindow;
}

namespace platform::qt {

class LauncherWindow final : public QWidget {
  public:
    LauncherWindow();
    LauncherWindow(const LauncherWindow&) = delete;
    LauncherWindow& operator=(const LauncherWindow&) = delete;
    ~LauncherWindow() override;

    // What loading a layout does: the delegate gets its four outlets, the two
    // buttons their actions, and Quit its own action.
    void connectTo(ApplicationDelegate& delegate);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    std::unique_ptr<Ui::LauncherWindow> ui_;
};

}  // namespace platform::qt
