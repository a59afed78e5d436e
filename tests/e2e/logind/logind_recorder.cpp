// Stands in for logind on a private bus: whoever asks it to restart the machine
// only gets a line in a file, so the tests can check the request was made
// without any risk of it being carried out. It says it is ready once it holds
// logind's name, which no one may then take from it. The harness ends it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <cstdio>

namespace {

class Manager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

  public:
    explicit Manager(const char* recordPath) : record_(QString::fromLocal8Bit(recordPath)) {}

  public slots:
    void Reboot(bool interactive) {
        if (record_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            record_.write(
                QByteArray("Reboot interactive=") + (interactive ? "true" : "false") +
                " authorization=" +
                (message().isInteractiveAuthorizationAllowed() ? "allowed" : "not-allowed") + "\n");
            record_.close();
        }
    }

  private:
    QFile record_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]),
                                                        QStringLiteral("private-system"));
    Manager manager(argv[2]);
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "cannot serve org.freedesktop.login1 on %s\n", argv[1]);
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "logind_recorder.moc"
