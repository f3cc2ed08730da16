#include "ui/MainFrame.h"

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Quillon (64bit)"));
    resize(900, 600);
}
