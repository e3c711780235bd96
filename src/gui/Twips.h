#ifndef KAVELO_GUI_TWIPS_H
#define KAVELO_GUI_TWIPS_H

#include <QRect>

namespace kavelo::gui {

// The windows' design values are in twips: 15 to a pixel at normal resolution (96 dots per inch).
constexpr int kTwipsPerPixel = 15;

inline QRect fromTwips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

} // namespace kavelo::gui

#endif
