// Stands in for logind on a private bus: whoever asks it to restart the machine
// only gets a line in a file, so the tests can check the request was made
// without any risk of it being carried out.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
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
            QTextStream line(&record);
            line << "Reboot interactive=" << (interactive ? "true" : "false") << " authorization="
                 << (message().isInteractiveAuthorizationAllowed() ? "allowed" : "not-allowed")
                 << '\n';
        }
    }

  private:
    QString recordPath_;
};

int signalPipe[2];

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: logind_recorder BUS-ADDRESS RECORD-FILE\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]),
                                                        QStringLiteral("private-system"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "cannot connect to %s\n", argv[1]);
        return 1;
    }
    Manager manager(QString::fromLocal8Bit(argv[2]));
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                            QDBusConnection::ExportAllSlots)) {
        std::fprintf(stderr, "cannot export /org/freedesktop/login1\n");
        return 1;
    }
    if (!bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "cannot own org.freedesktop.login1\n");
        return 1;
    }

    // A SIGTERM from the harness ends the loop cleanly.
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    std::printf("ready %s\n", qPrintable(bus.baseService()));
    std::fflush(stdout);
    return app.exec();
}

#include "logind_recorder.moc"
