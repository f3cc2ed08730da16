#include "ui/DialogTemplate.h"

#include <QFontMetrics>

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
