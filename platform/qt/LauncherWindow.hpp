// The launcher's one window, laid out in LauncherWindow.ui. Closing it is the
// user's quit: on Linux no menu is left to quit from once it is gone.
#pragma once

#include <QWidget>

#include "platform/Application.hpp"
#include "ui_LauncherWindow.h"

namespace platform::qt {

class LauncherWindow final : public QWidget {
  public:
    LauncherWindow();

    // What loading a layout does: the delegate gets its four outlets, the two
    // buttons their actions, and Quit its own action.
    void connectTo(ApplicationDelegate& delegate);

    const Ui::LauncherWindow& layout() const { return ui_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    Ui::LauncherWindow ui_;
};

}  // namespace platform::qt
