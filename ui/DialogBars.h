// The two bars of the main window. CDialogBarUpper (top): the file and connection buttons and
// the camera identity. CDialogBarLower (bottom): the console buttons, the connection state,
// the result of the last command and the elapsed time. The bars hold no logic: they report
// every button as commandTriggered(id) and the main window writes their states, texts and
// colours through the setters.
#pragma once

#include "ui/BarControls.h"
#include "ui/BarStatus.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPushButton;
class CColorEdit;
class CImageButton;

QColor ToQColor(barstatus::Rgb rgb);

// A bar has its template's height; it prefers the template's width but lets the window be
// narrower (its right end is clipped then).
void SetBarSize(QWidget* bar, const QSize& templateSize);

class CDialogBarUpper : public QWidget {
    Q_OBJECT
public:
    using enum barcontrol::Upper;
    enum : int {
        // Items of the file menu button's popup.
        ID_SELECT_FILE = 32780,
        ID_AUTO_SELECT = 32781,
    };

    explicit CDialogBarUpper(QWidget* parent = nullptr);
    QSize sizeHint() const override { return m_templateSize; }

    // The popup of the file menu button ("Select file", "Auto select by sta command"); the
    // main window also hangs it into its File menu.
    QMenu* FilePopup() const { return m_filePopup; }
    QAction* SelectFileAction() const { return m_selectFile; }
    QAction* AutoSelectAction() const { return m_autoSelect; }

    void SetCameraIdentity(const QString& model, const QString& version, const QString& serial);
    // Port line and its colour (green with a chosen port and a current port, else red).
    void SetPort(const QString& portName, const QString& description, bool hasCurrentPort);
    void SetLineSpeed(const QString& text);
    // Connect pressed while connected, Disconnect pressed while not; each enabled by its
    // command's rule; both redrawn at once.
    void SetConnectionState(bool portSelected, bool connected);
    void SetFileMenuEnables(bool selectFile, bool autoSelect);
    // Enable state of a command button (barcontrol::kCommandButtons).
    void SetCommandEnabled(int id, bool enabled);

    CImageButton* Button(int id) const;
    CColorEdit* Edit(int id) const;

Q_SIGNALS:
    void commandTriggered(int id);

private:
    CImageButton* AddButton(int id, int cell, int x, int y, bool toggle);

    QSize m_templateSize;
    QMenu* m_filePopup = nullptr;
    QAction* m_selectFile = nullptr;
    QAction* m_autoSelect = nullptr;
};

class CDialogBarLower : public QWidget {
    Q_OBJECT
public:
    using enum barcontrol::Lower;

    explicit CDialogBarLower(QWidget* parent = nullptr);
    QSize sizeHint() const override { return m_templateSize; }

    // "Connect" or "Disconnect".
    void SetConnected(bool connected);
    void SetResult(const QString& text, const QColor& colour);
    void SetResult(const barstatus::ResultLook& look);
    void SetElapsedTime(const QString& text);
    void SetCancelEnabled(bool enabled);

    CImageButton* CancelButton() const { return m_cancel; }

Q_SIGNALS:
    void commandTriggered(int id);

private:
    QSize m_templateSize;
    QLineEdit* m_connection = nullptr;
    CColorEdit* m_result = nullptr;
    QLineEdit* m_elapsed = nullptr;
    CImageButton* m_cancel = nullptr;
};
