// The seam's window objects over Qt widgets. They hold guarded pointers: the
// widgets belong to the window, the adapters to the application's delegate.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>
#include <vector>

#include "platform/Application.hpp"

namespace platform::qt {

// The window itself is the layout's; the launcher asks nothing of it.
class QtWindow final : public Window {};

// A display-only status line. Plain text always: a description that looks like
// markup is shown as written, never rendered.
class QtTextField final : public TextField {
  public:
    explicit QtTextField(QLabel* label);
    void setStringValue(std::string_view text) override;

  private:
    QPointer<QLabel> label_;
};

class QtButton final : public Button {
  public:
    explicit QtButton(QPushButton* button) : button_(button) {}
    void setKeyEquivalent(std::string_view key) override;

  private:
    QPointer<QPushButton> button_;
    std::vector<QPointer<QShortcut>> shortcuts_;
};

}  // namespace platform::qt
