#ifndef KAVELO_GUI_MESSAGEBOX_H
#define KAVELO_GUI_MESSAGEBOX_H

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <functional>

namespace kavelo::gui {

// The title of the program's message boxes.
inline const QString kProgramTitle = QStringLiteral("KAVELO");

// Shows one message box with an OK button and returns when the operator has closed it. The windows take it as a
// value so that tests record the messages instead of blocking on them.
using MessageBoxFunction =
    std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text)>;

// The real one: a modal QMessageBox.
void showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text);

} // namespace kavelo::gui

#endif
