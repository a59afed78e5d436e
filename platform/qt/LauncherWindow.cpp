#include "LauncherWindow.hpp"

#include <QCloseEvent>

#include "Outlets.hpp"

namespace platform::qt {

LauncherWindow::LauncherWindow() {
    ui_.setupUi(this);
}

void LauncherWindow::connectTo(ApplicationDelegate& delegate) {
    delegate.setWindow(std::make_shared<QtWindow>(this));
    delegate.setQuitButton(std::make_shared<QtButton>(ui_.quitButton));
    delegate.setMessageBox(std::make_shared<QtTextField>(ui_.messageBox));
    delegate.setMacOSMessageBox(std::make_shared<QtTextField>(ui_.macOSMessageBox));

    QObject::connect(
        ui_.loadButton, &QPushButton::clicked, this,
        [&delegate, sender = ui_.loadButton] { delegate.loadDriverWithSender(sender); });
    QObject::connect(
        ui_.disableButton, &QPushButton::clicked, this,
        [&delegate, sender = ui_.disableButton] { delegate.disableDriverWithSender(sender); });
    QObject::connect(ui_.quitButton, &QPushButton::clicked, this,
                     [sender = ui_.quitButton] { platform::terminate(sender); });
}

void LauncherWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    platform::terminate(this);
}

}  // namespace platform::qt
