// CImageButton: a push button drawn by the program with a picture from the image strip.
// A toggle button (mode 2) keeps its pressed look while toggled on; a disabled button is
// paled by OR-ing RGB(128,128,128) over it. CColorEdit: a read-only edit whose background
// colour the program chooses.
#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QPixmap>

class QMenu;

class CImageButton : public QAbstractButton {
    Q_OBJECT
public:
    enum Mode : int { kPlain = 0, kToggle = 2 };

    explicit CImageButton(QWidget* parent = nullptr, Mode mode = kPlain);

    // The picture: a cell of the shared image strip (an invalid index shows none) ...
    void SetImageCell(int cell);
    int ImageCell() const { return m_cell; }
    // ... or a picture of its own.
    void SetPicture(const QPixmap& picture);

    Mode ButtonMode() const { return m_mode; }
    // Toggled state (0 or 1), read and written by the main window; a click flips it.
    bool IsToggled() const { return m_mode == kToggle && isChecked(); }
    void SetToggled(bool on);

    // A menu that a click pops up below the button instead of running a command.
    void SetPopupMenu(QMenu* menu);
    QMenu* PopupMenu() const { return m_menu; }

    // The button as it is drawn now.
    QImage Render() const;

    QSize sizeHint() const override { return QSize(22, 22); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowPopup();

    QPixmap m_picture;
    int m_cell = -1;
    Mode m_mode;
    QMenu* m_menu = nullptr;
};

class CColorEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CColorEdit(QWidget* parent = nullptr);

    void SetColour(const QColor& colour);
    QColor Colour() const { return m_colour; }
    // Sets the text with the caret at its end, scrolled into view.
    void SetTextAtEnd(const QString& text);

private:
    QColor m_colour{255, 255, 255};
};
