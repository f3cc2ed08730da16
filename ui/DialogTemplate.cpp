#include "ui/DialogTemplate.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics fm(font);
    const int alphabet = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits base;
    base.cx = std::max(1, (alphabet / 26 + 1) / 2);
    base.cy = std::max(1, fm.height());
    return base;
}

QString ControlName(int id) {
    return QStringLiteral("ctl%1").arg(id);
}

DialogTemplate::DialogTemplate(QWidget* host) : m_host(host), m_base(BaseUnitsOf(host->font())) {}

QRect DialogTemplate::toPixels(DlgRect dlu) const {
    const DlgRect px = DluToPixels(dlu, m_base);
    return QRect(px.x, px.y, px.w, px.h);
}

void DialogTemplate::setFixedSize(int widthDlu, int heightDlu) const {
    const QRect r = toPixels({0, 0, widthDlu, heightDlu});
    m_host->setFixedSize(r.width(), r.height());
}

namespace {

// Room the control's own drawing takes beside its text.
int TextRoom(const QWidget* control) {
    if (qobject_cast<const QCheckBox*>(control))
        return control->width() - control->fontMetrics().height() - 8;
    if (qobject_cast<const QPushButton*>(control))
        return control->width() - 6;
    return control->width();
}

void FitText(QWidget* control, const QString& text) {
    if (text.isEmpty())
        return;
    QFont font = control->font();
    qreal size = font.pointSizeF();
    if (size <= 0)
        return;
    const int room = TextRoom(control);
    while (size > 6 && QFontMetrics(font).horizontalAdvance(text) > room) {
        size -= 0.5;
        font.setPointSizeF(size);
    }
    if (font != control->font())
        control->setFont(font);
}

} // namespace

void FitTexts(QWidget* host) {
    for (QLabel* label : host->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (!label->wordWrap() && label->pixmap().isNull())
            FitText(label, label->text());
    for (QAbstractButton* button : host->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly))
        if (qobject_cast<QPushButton*>(button) || qobject_cast<QCheckBox*>(button))
            FitText(button, button->text());
}
