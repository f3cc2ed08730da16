#include "ui/ImageButton.h"

#include "ui/ImageStrip.h"

#include <QMenu>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace {

const QColor kFrameLight(255, 255, 255);
const QColor kFrameDark(0, 0, 0);
const QColor kFrameInner(153, 204, 204);

} // namespace

CImageButton::CImageButton(QWidget* parent, Mode mode) : QAbstractButton(parent), m_mode(mode) {
    setCheckable(mode == kToggle);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this, &CImageButton::ShowPopup);
}

void CImageButton::SetImageCell(int cell) {
    m_cell = cell;
    m_picture = imagestrip::Cell(cell);
    update();
}

void CImageButton::SetPicture(const QPixmap& picture) {
    m_cell = -1;
    m_picture = picture;
    update();
}

void CImageButton::SetToggled(bool on) {
    if (m_mode != kToggle)
        return;
    setChecked(on);
    update();
}

void CImageButton::SetPopupMenu(QMenu* menu) {
    m_menu = menu;
}

void CImageButton::ShowPopup() {
    if (m_menu)
        m_menu->popup(mapToGlobal(QPoint(0, height())));
}

QImage CImageButton::Render() const {
    const int w = width();
    const int h = height();
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(palette().color(QPalette::Button));
    QPainter p(&image);

    if (!m_picture.isNull()) {
        const int x = std::max(0, (w - m_picture.width()) / 2);
        const int y = std::max(0, (h - m_picture.height()) / 2);
        p.drawPixmap(x, y, m_picture);
    }

    const bool pressed = isDown() || IsToggled();
    const QColor outerTopLeft = pressed ? kFrameDark : kFrameLight;
    const QColor innerTopLeft = pressed ? kFrameInner : kFrameLight;
    // Outer frame, then the frame one pixel inside it.
    p.fillRect(0, 0, w, 1, outerTopLeft);
    p.fillRect(0, 0, 1, h, outerTopLeft);
    p.fillRect(0, h - 1, w, 1, kFrameDark);
    p.fillRect(w - 1, 0, 1, h, kFrameDark);
    p.fillRect(1, 1, w - 2, 1, innerTopLeft);
    p.fillRect(1, 1, 1, h - 2, innerTopLeft);
    p.fillRect(1, h - 2, w - 2, 1, kFrameInner);
    p.fillRect(w - 2, 1, 1, h - 2, kFrameInner);

    if (hasFocus() && w > 4 && h > 4) {
        QPen dotted(palette().color(QPalette::WindowText), 1, Qt::DotLine);
        p.setPen(dotted);
        p.setBrush(Qt::NoBrush);
        p.drawRect(2, 2, w - 5, h - 5);
    }

    if (!text().isEmpty()) {
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawText(QRect(0, 0, w, h), Qt::AlignCenter | Qt::TextSingleLine, text());
    }

    if (!isEnabled()) {
        p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        p.fillRect(0, 0, w, h, QColor(128, 128, 128));
    }
    return image;
}

void CImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, Render());
}

CColorEdit::CColorEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setFrame(true);
    SetColour(m_colour);
}

void CColorEdit::SetColour(const QColor& colour) {
    m_colour = colour;
    QPalette pal = palette();
    pal.setColor(QPalette::Base, colour);
    // The program's colours are light: dark text on them, also in a dark theme.
    pal.setColor(QPalette::Text, colour.lightness() >= 128 ? Qt::black : Qt::white);
    setPalette(pal);
    update();
}

void CColorEdit::SetTextAtEnd(const QString& text) {
    setText(text);
    setCursorPosition(static_cast<int>(text.size()));
}
