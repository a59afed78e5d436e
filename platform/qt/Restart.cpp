// The restart is asked of logind, never done with reboot(2): the session
// manager lets every program save its work first, and polkit may ask the user
// (interactive authorisation). The call is only sent: whether the machine
// agrees is not the launcher's concern, and with no system bus at all
// QDBusConnection fails at once and the message goes nowhere.
#include <QDBusConnection>
#include <QDBusMessage>

#include "platform/Host.hpp"

namespace platform {

void requestRestart() {
    QDBusMessage reboot = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Reboot"));
    const bool interactive = true;
    reboot << interactive;
    reboot.setInteractiveAuthorizationAllowed(true);
    QDBusConnection::systemBus().send(reboot);
}

}  // namespace platform
