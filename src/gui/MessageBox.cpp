#include "gui/MessageBox.h"

namespace kavelo::gui {

void showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace kavelo::gui
