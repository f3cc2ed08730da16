// The pictures of the bars' image buttons: one strip of 30 cells of 16 x 15 pixels in 16
// colours, magenta RGB(255,0,255) marking transparent pixels, drawn by the program itself.
#pragma once

#include <QImage>
#include <QPixmap>

namespace imagestrip {

constexpr int kCellWidth = 16;
constexpr int kCellHeight = 15;
constexpr int kCellCount = 30;
constexpr QRgb kTransparentKey = 0xFFFF00FF;

// Cells the bars use.
enum Cell : int {
    kNoEntry = 8,
    kQuestion = 12,
    kPageIn = 16,
    kWriting = 19,
    kCamera = 20,
    kPhoneRinging = 21,
    kPhoneOnHook = 22,
    kShapesMouse = 23,
    kCross = 24,
};

// The whole strip (kCellCount * 16 x 15), magenta where transparent.
const QImage& Strip();
// One cell with its magenta pixels made transparent; a null pixmap for an invalid index.
QPixmap Cell(int index);
// The open-folder picture of the file menu button (16 x 15, transparent background).
QPixmap OpenFolder();

} // namespace imagestrip
