#include "LauncherWindow.hpp"

#include "BackendLifecycle.hpp"

#include <QCloseEvent>

#include "Outlets.hpp"
#include "ui_LauncherWindow.h"

namespace platform::qt {

LauncherWindow::LauncherWindow() : ui_(std::make_unique<Ui::LauncherWindow>()) {
    ui_->setupUi(this);
}

LauncherWindow::~LauncherWindow() = default;

void LauncherWindow::connectTo(ApplicationDelegate& delegate) {
    delegate.setWindow(std::make_shared<QtWindow>());
    delegate.setQuitButton(std::make_shared<QtButton>(ui_->quitButton));
    delegate.setMessageBox(std::make_shared<QtTextField>(ui_->messageBox));
    delegate.setMacOSMessageBox(std::make_shared<QtTextField>(ui_->macOSMessageBox));

    QObject::connect(
        ui_->loadButton, &QPushButton::clicked, this,
        [&delegate, sender = ui_->loadButton] { delegate.loadDriverWithSender(sender); });
    QObject::connect(
        ui_->disableButton, &QPushButton::clicked, this,
        [&delegate, sender = ui_->disableButton] { delegate.disableDriverWithSender(sender); });
    QObject::connect(ui_->quitButton, &QPushButton::clicked, this, [] { quitApplication(); });
}

void LauncherWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    quitApplication();
}

}  // namespace platform::qt
