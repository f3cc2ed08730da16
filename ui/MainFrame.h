// CMainFrame: the main window of Quillon.
#pragma once

#include <QMainWindow>

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
};
