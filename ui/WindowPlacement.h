// The main window's size and placement with Qt: initial size from the bars and the minimum
// size that follows from it, showing and hiding the console column of the splitter, and
// saving and restoring the placement in the settings file's "WindowPlace" keys. Rectangles
// are the window's frame, stored relative to the work area of the window's screen.
#pragma once

#include "ui/WindowPlaceLogic.h"

#include <QRect>

class QSplitter;
class QWidget;

namespace placement {

// The window's frame rectangle on the screen.
Rect FrameRect(const QWidget* window);
// The work area's offset from the corner of the screen the window is on.
QPoint WorkAreaOffset(const QWidget* window);

// Gives the shown window its initial size, keeping its top-left corner: as wide as the lower
// bar's Cancel button reaches plus 4 pixels, as high as menu, bars and a 352-pixel view area.
// The window cannot be made smaller than that afterwards. Returns the new frame rectangle.
Rect ApplyInitialSize(QWidget* window, const QWidget* upperBar, const QWidget* lowerBar,
                      const QWidget* cancelButton);

// Column 0 of the splitter (the console) at `width` pixels; below kConsoleMinWidth collapsed.
void SetConsoleColumnWidth(QSplitter* splitter, int width);
int ConsoleColumnWidth(const QSplitter* splitter);
// Show console: half of the view width less the edge and frame allowances.
void ShowConsoleColumn(QWidget* window, QSplitter* splitter);
// Hide console: width 1, shown collapsed.
void HideConsoleColumn(QSplitter* splitter);

// The values saving would write now.
Values CapturePlacement(const QWidget* window, const QSplitter* splitter);
// Writes the placement (at window destruction). False when a key could not be written.
bool SaveWindowPlacement(const QWidget* window, const QSplitter* splitter, IStore& store);
// Restores the placement (after the initial size): console hidden first, then the stored
// normal rectangle shown normally or maximized, then the stored console width.
void RestoreWindowPlacement(QWidget* window, QSplitter* splitter, IStore& store);

} // namespace placement
