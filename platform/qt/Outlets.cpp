#include "Outlets.hpp"

#include <QKeySequence>

namespace platform::qt {

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A key equivalent is a key without modifiers. Carriage return is the Return
// key alone: the keypad's Enter sends a different character.
std::vector<QKeySequence> keySequencesFor(std::string_view key) {
    if (key == "\r") {
        return {QKeySequence(Qt::Key_Return)};
    }
    const QString text = fromUtf8(key);
    if (text.size() != 1) {
        return {};
    }
    // Qt's key codes of printable characters are their upper-case code points.
    return {QKeySequence(QKeyCombination(static_cast<Qt::Key>(text.at(0).toUpper().unicode())))};
}

}  // namespace

QtTextField::QtTextField(QLabel* label) : label_(label) {
    if (label_) {
        label_->setTextFormat(Qt::PlainText);
    }
}

void QtTextField::setStringValue(std::string_view text) {
    if (label_) {
        label_->setText(fromUtf8(text));
    }
}

// Shortcuts of the window go before the focused widget's own keys, the way a
// key equivalent goes before keyDown: Return quits even while Load has focus.
void QtButton::setKeyEquivalent(std::string_view key) {
    for (const QPointer<QShortcut>& shortcut : shortcuts_) {
        delete shortcut.data();
    }
    shortcuts_.clear();
    if (!button_) {
        return;
    }
    for (const QKeySequence& sequence : keySequencesFor(key)) {
        auto* shortcut = new QShortcut(sequence, button_->window());
        QObject::connect(shortcut, &QShortcut::activated, button_.data(),
                         [button = button_] { button->animateClick(); });
        shortcuts_.emplace_back(shortcut);
    }
    // Drawn as the default button, so the user sees which one Return presses.
    button_->setDefault(!shortcuts_.empty() && key == "\r");
}

}  // namespace platform::qt
