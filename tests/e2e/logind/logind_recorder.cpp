// Stands in for logind on a private bus: whoever asks it to restart the machine
// only gets a line in a file, so the tests can check the request was made
// without any risk of it being carried out. The harness ends it with SIGTERM.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

class Manager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

  public:
    explicit Manager(QString recordPath) : recordPath_(std::move(recordPath)) {}

  public slots:
    void Reboot(bool interactive) {
        QFile record(recordPath_);
        if (record.open(QIODevice::WriteOnly | QIODevice::Append)) {
            QTextStream(&record) << "Reboot interactive=" << (interactive ? "true" : "false")
                                 << " authorization="
                                 << (message().isInteractiveAuthorizationAllowed() ? "allowed"
                                                                                   : "not-allowed")
                                 << '\n';
        }
    }

  private:
    QString recordPath_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]),
                                                        QStringLiteral("private-system"));
    Manager manager(QString::fromLocal8Bit(argv[2]));
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "cannot serve org.freedesktop.login1 on %s\n", argv[1]);
        return 1;
    }
    std::printf("ready %s\n", qPrintable(bus.baseService()));
    std::fflush(stdout);
    return app.exec();
}

#include "logind_recorder.moc"
