// The least a Qt Widgets program can do that the launcher also does: open a
// window with one label, print one line once the event loop runs, and quit.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("floor"));
    label.show();
    QTimer::singleShot(0, &app, [] {
        std::puts("[floor]");
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}
