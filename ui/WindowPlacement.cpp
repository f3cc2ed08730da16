#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QWidget>
#include <QWindow>

namespace placement {

namespace {

// The edge allowance of the view area on each side (a sunken client edge).
constexpr int kEdge = 2;

Rect ToRect(const QRect& r) {
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}
QRect ToQRect(const Rect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

// Frame margins of the window: frame minus client on each side.
QMargins FrameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                    frame.right() - client.right(), frame.bottom() - client.bottom());
}

QScreen* ScreenOf(const QWidget* window) {
    if (QScreen* screen = window->screen())
        return screen;
    return QGuiApplication::primaryScreen();
}

int HeightIfShown(const QWidget* bar) {
    return bar && bar->isVisible() ? bar->height() : 0;
}

int MenuHeight(const QWidget* window) {
    if (const auto* main = qobject_cast<const QMainWindow*>(window)) {
        const QWidget* menu = main->menuWidget();
        return menu && menu->isVisible() ? menu->height() : 0;
    }
    return 0;
}

} // namespace

Rect FrameRect(const QWidget* window) {
    return ToRect(window->frameGeometry());
}

QPoint WorkAreaOffset(const QWidget* window) {
    const QScreen* screen = ScreenOf(window);
    if (!screen)
        return {};
    return screen->availableGeometry().topLeft() - screen->geometry().topLeft();
}

Rect ApplyInitialSize(QWidget* window, const QWidget* upperBar, const QWidget* lowerBar,
                      const QWidget* cancelButton) {
    const QRect frame = window->frameGeometry();
    const QMargins margins = FrameMargins(window);
    InitialSizeInput in;
    in.windowLeft = frame.left();
    in.cancelRight = cancelButton ? cancelButton->mapToGlobal(QPoint(cancelButton->width(), 0)).x()
                                  : window->mapToGlobal(QPoint(window->width(), 0)).x();
    in.frameWidth = margins.left();
    in.frameHeight = margins.bottom();
    in.captionHeight = std::max(0, margins.top() - margins.bottom());
    in.upperBarHeight = HeightIfShown(upperBar);
    in.lowerBarHeight = HeightIfShown(lowerBar);
    // The menu bar lies inside the client area here; the size below is the frame's.
    in.menuHeight = MenuHeight(window);
    const Size size = InitialWindowSize(in);
    const QSize client(size.width - margins.left() - margins.right(),
                       size.height - margins.top() - margins.bottom());
    window->setMinimumSize(0, 0);
    window->resize(client);
    window->move(frame.topLeft());
    window->setMinimumSize(window->size());
    return FrameRect(window);
}

void SetConsoleColumnWidth(QSplitter* splitter, int width) {
    if (!splitter || splitter->count() < 1)
        return;
    splitter->setCollapsible(0, true);
    QList<int> sizes = splitter->sizes();
    int total = 0;
    for (int s : sizes)
        total += s;
    if (total <= 0)
        total = std::max(splitter->width() - splitter->handleWidth() * (splitter->count() - 1), 0);
    const int column = width < kConsoleMinWidth ? 0 : width;
    QList<int> next;
    next.push_back(column);
    if (splitter->count() > 1) {
        next.push_back(std::max(total - column, 1));
        for (int i = 2; i < splitter->count(); ++i)
            next.push_back(sizes.value(i));
    }
    splitter->setSizes(next);
}

int ConsoleColumnWidth(const QSplitter* splitter) {
    if (!splitter || splitter->count() < 1)
        return 0;
    return splitter->sizes().value(0);
}

void ShowConsoleColumn(QWidget* window, QSplitter* splitter) {
    const int viewWidth = window->width() - 2 * kEdge;
    SetConsoleColumnWidth(splitter,
                          ShowConsoleWidth(viewWidth, kEdge, FrameMargins(window).left()));
}

void HideConsoleColumn(QSplitter* splitter) {
    SetConsoleColumnWidth(splitter, kConsoleHiddenWidth);
}

Values CapturePlacement(const QWidget* window, const QSplitter* splitter) {
    const QMargins margins = FrameMargins(window);
    const QPoint offset = WorkAreaOffset(window);
    Snapshot snap;
    snap.minimized = window->isMinimized();
    snap.maximized = window->isMaximized();
    const QRect normalFrame = window->normalGeometry().marginsAdded(margins);
    snap.normal = ToRect(normalFrame).moved(-offset.x(), -offset.y());
    snap.current = FrameRect(window);
    snap.workAreaLeft = offset.x();
    snap.workAreaTop = offset.y();
    snap.split = ConsoleColumnWidth(splitter);
    return PlacementToSave(snap);
}

bool SaveWindowPlacement(const QWidget* window, const QSplitter* splitter, IStore& store) {
    return SavePlacement(store, CapturePlacement(window, splitter));
}

void RestoreWindowPlacement(QWidget* window, QSplitter* splitter, IStore& store) {
    HideConsoleColumn(splitter);
    const QPoint offset = WorkAreaOffset(window);
    const Values values = ReadPlacement(store, FrameRect(window).moved(-offset.x(), -offset.y()));
    const ShowAs show = RestoreShow(values.state);
    if (show != ShowAs::kUnchanged) {
        const QMargins margins = FrameMargins(window);
        QRect frame = ToQRect(values.rect.moved(offset.x(), offset.y()));
        // A rectangle on no screen any more (a monitor was removed) comes back to the work
        // area of the window's screen, keeping its size.
        bool onScreen = false;
        for (const QScreen* screen : QGuiApplication::screens())
            onScreen = onScreen || screen->availableGeometry().intersects(frame);
        if (!onScreen)
            if (const QScreen* screen = ScreenOf(window))
                frame.moveTopLeft(screen->availableGeometry().topLeft());
        if (window->isMaximized() || window->isMinimized())
            window->showNormal();
        const QRect client = frame.marginsRemoved(margins);
        window->resize(client.size().expandedTo(window->minimumSize()));
        window->move(frame.topLeft());
        if (show == ShowAs::kMaximized)
            window->showMaximized();
        else
            window->showNormal();
    }
    window->update();
    SetConsoleColumnWidth(splitter, values.split);
}

} // namespace placement
