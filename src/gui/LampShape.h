#ifndef KAVELO_GUI_LAMPSHAPE_H
#define KAVELO_GUI_LAMPSHAPE_H

#include <QColor>
#include <QWidget>

namespace kavelo::gui {

// The listening lamp: a rectangle with a solid fill and a thin black border.
class LampShape : public QWidget
{
    Q_OBJECT

  public:
    explicit LampShape(QWidget* parent = nullptr);

    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor& color);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor m_fill = Qt::white;
};

} // namespace kavelo::gui

#endif
