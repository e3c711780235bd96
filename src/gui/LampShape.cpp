#include "gui/LampShape.h"

#include <QPainter>

namespace kavelo::gui {

LampShape::LampShape(QWidget* parent)
    : QWidget(parent)
{
}

void LampShape::setFillColor(const QColor& color)
{
    m_fill = color;
    update();
}

void LampShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_fill);
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace kavelo::gui
