// The launcher binary on the offscreen platform it picks by itself, with no
// display variables at all: each line on standard output can be read while the
// launcher is still open, and SIGINT or SIGTERM end it the way Quit does.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

namespace {

class QuitSignal : public ::testing::TestWithParam<int> {};

TEST_P(QuitSignal, EndsTheOpenLauncherWithStatusZero) {
    const QTemporaryDir scratch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("HOME"), scratch.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), scratch.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       QStringLiteral("unix:path=/nonexistent"));
    QProcess launcher;
    launcher.setProcessEnvironment(environment);
    launcher.start(QStringLiteral(VELTRIN_LAUNCHER_PATH), {});

    QByteArray output;
    while (output.count('\n') < 2 && launcher.waitForReadyRead(20000)) {
        output += launcher.readAllStandardOutput();
    }
    EXPECT_EQ(output.toStdString(),
              "Running on Ventura or greater\n[\"" VELTRIN_LAUNCHER_PATH "\"]\n");
    ASSERT_EQ(launcher.state(), QProcess::Running) << "interactive use stays open";

    ::kill(static_cast<pid_t>(launcher.processId()), GetParam());
    ASSERT_TRUE(launcher.waitForFinished(20000));
    EXPECT_EQ(launcher.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(launcher.exitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(SigintAndSigterm, QuitSignal, ::testing::Values(SIGINT, SIGTERM));

}  // namespace
