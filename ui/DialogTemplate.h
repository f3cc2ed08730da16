// Building a widget from a dialog template: every control placed at its template position
// (converted from dialog units with the widget's font) and named after its control id
// ("ctl1012"), so the code and the tests find it by id.
#pragma once

#include "ui/DialogUnits.h"

#include <QString>
#include <QWidget>

// The dialog base units of a font (average alphabet width, character height).
DialogBaseUnits BaseUnitsOf(const QFont& font);

// "ctl<id>".
QString ControlName(int id);

// The child of `parent` with the given control id, or nullptr.
template <typename T = QWidget>
T* FindControl(const QWidget* parent, int id) {
    return parent->findChild<T*>(ControlName(id));
}

// Texts of the host's labels, check boxes and push buttons that do not fit their template
// width get a smaller font (not below 6 points), so no caption is cut off when the system
// font runs wider than the one the templates were made for.
void FitTexts(QWidget* host);

class DialogTemplate {
public:
    explicit DialogTemplate(QWidget* host);

    DialogBaseUnits base() const { return m_base; }
    // The pixel rectangle of a rectangle in dialog units.
    QRect toPixels(DlgRect dlu) const;
    // Sets the host's fixed size from the template's size in dialog units.
    void setFixedSize(int widthDlu, int heightDlu) const;
    // Places a control of the host at its template rectangle; id < 0 for controls without id.
    template <typename T>
    T* place(T* control, int id, DlgRect dlu) const {
        if (id >= 0)
            control->setObjectName(ControlName(id));
        control->setGeometry(toPixels(dlu));
        return control;
    }

private:
    QWidget* m_host;
    DialogBaseUnits m_base;
};
