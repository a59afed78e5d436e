// The window's status lines and its Return key.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <string>

#include "platform/qt/LauncherWindow.hpp"

namespace {

struct RecordingDelegate final : platform::ApplicationDelegate {
    void setWindow(std::shared_ptr<platform::Window> value) override { window = std::move(value); }
    void setQuitButton(std::shared_ptr<platform::Button> value) override {
        quitButton = std::move(value);
    }
    void setMessageBox(std::shared_ptr<platform::TextField> value) override {
        messageBox = std::move(value);
    }
    void setMacOSMessageBox(std::shared_ptr<platform::TextField> value) override {
        macOSMessageBox = std::move(value);
    }
    void loadDriverWithSender(const void* /*sender*/) override { actions += "load;"; }
    void disableDriverWithSender(const void* /*sender*/) override {}
    void applicationDidFinishLaunching() override {}
    void applicationWillTerminate() override {}

    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::Button> quitButton;
    std::shared_ptr<platform::TextField> messageBox;
    std::shared_ptr<platform::TextField> macOSMessageBox;
    std::string actions;
};

class LauncherWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.connectTo(delegate);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    RecordingDelegate delegate;
    platform::qt::LauncherWindow window;
};

TEST_F(LauncherWindowTest, StatusLinesShowTextAsWrittenNeverAsMarkup) {
    const std::string hostile = "<b>Error</b>:%@ %s\n<a href='x'>ü</a>";
    delegate.messageBox->setStringValue(hostile);
    delegate.macOSMessageBox->setStringValue("second line");
    EXPECT_EQ(window.messageBox()->text().toStdString(), hostile);
    EXPECT_EQ(window.messageBox()->textFormat(), Qt::PlainText);
    EXPECT_EQ(window.macOSMessageBox()->text().toStdString(), "second line");
}

TEST_F(LauncherWindowTest, ReturnAndEnterPressQuitWhereverTheFocusIs) {
    QSignalSpy quitClicks(window.quitButton(), &QPushButton::clicked);
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_FALSE(quitClicks.wait(300)) << "Return pressed Quit before it was bound";

    delegate.quitButton->setKeyEquivalent("\r");
    window.loadButton()->setFocus();
    QTest::keyClick(window.loadButton(), Qt::Key_Return);
    ASSERT_TRUE(quitClicks.wait(2000));
    QTest::keyClick(&window, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(quitClicks.wait(2000));
    EXPECT_EQ(quitClicks.count(), 2);
    EXPECT_EQ(delegate.actions, "") << "Return must not press the focused Load button";
}

TEST_F(LauncherWindowTest, ANewKeyEquivalentReplacesTheOldOne) {
    QSignalSpy quitClicks(window.quitButton(), &QPushButton::clicked);
    delegate.quitButton->setKeyEquivalent("\r");
    delegate.quitButton->setKeyEquivalent("q");
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_FALSE(quitClicks.wait(300));
    QTest::keyClick(&window, Qt::Key_Q);
    EXPECT_TRUE(quitClicks.wait(2000));
}

}  // namespace
