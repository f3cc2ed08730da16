#include "ui/PropertyItems.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QWidget>
#include <algorithm>
#include <cstdint>

namespace {

// The slider and the edit of an Integer item take the grid's background.
void UseGridBackground(QWidget* control, const QWidget* grid) {
    QPalette palette = control->palette();
    const QColor background = grid ? grid->palette().color(QPalette::Base)
                                   : QApplication::palette().color(QPalette::Base);
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Button, background);
    control->setPalette(palette);
    control->setAutoFillBackground(true);
}

// A page of the slider is a fifth of its range (at least 1): PageUp, PageDown and a click
// beside the thumb move by it.
int PageStepOfRange(int min, int max) {
    const int64_t fifth = (static_cast<int64_t>(max) - min) / 5;
    return static_cast<int>(std::clamp<int64_t>(fifth, 1, INT32_MAX));
}

bool IsScrollKey(int key) {
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

} // namespace

// --- CMFCPropertyGridPropertyEx --------------------------------------------------------------

CMFCPropertyGridPropertyEx::CMFCPropertyGridPropertyEx(const QString& name, PropValue value,
                                                       const QString& description,
                                                       const QString& validChars)
    : CMFCPropertyGridProperty(name, std::move(value), description, validChars) {}

void CMFCPropertyGridPropertyEx::SetRange64(bool enable, int64_t min, int64_t max) {
    if (!propvalue::IsInteger(m_value))
        return;
    m_min64 = min;
    m_max64 = max;
    EnableSpinControl(enable, propvalue::ClampToInt32(min), propvalue::ClampToInt32(max));
}

void CMFCPropertyGridPropertyEx::ResetRange64() {
    m_min64 = 0;
    m_max64 = 0;
}

void CMFCPropertyGridPropertyEx::OnDrawDescription(QPainter& painter, const QRect& rect) {
    if (OnDescriptionRequest)
        OnDescriptionRequest(*this);
    CMFCPropertyGridProperty::OnDrawDescription(painter, rect);
}

void CMFCPropertyGridPropertyEx::CommitValue(const QPoint* click) {
    m_commitPending = false;
    if (OnValueCommitted) {
        // A copy: the hook may set the item's value while it reads this one.
        const PropValue value = m_value;
        OnValueCommitted(*this, value, click);
    }
}

bool CMFCPropertyGridPropertyEx::UpdateFromEdit() {
    auto* edit = qobject_cast<QLineEdit*>(m_inPlaceEditor.data());
    if (!edit)
        return true;
    const QString text = edit->text();
    const bool changed = text != FormatProperty();
    const bool converted = SetValueFromText(text);
    // Once per edit, whether or not the text changed.
    if (m_commitPending)
        CommitValue();
    if (converted && changed && GetGrid())
        GetGrid()->OnPropertyChanged(this);
    return true;
}

// --- CDefaultExProp --------------------------------------------------------------------------

bool CDefaultExProp::OnEdit(const QPoint* click) {
    if (!CMFCPropertyGridPropertyEx::OnEdit(click))
        return false;
    m_commitPending = true;
    return true;
}

bool CDefaultExProp::OnUpdateValue() {
    return UpdateFromEdit();
}

// --- CPropSliderMaskedEdit and CPropSliderCtrl -----------------------------------------------

CPropSliderMaskedEdit::CPropSliderMaskedEdit(CSliderValueProp& item, QWidget* parent)
    : QLineEdit(parent), m_item(item) {
    UseGridBackground(this, item.GetGrid());
}

bool CPropSliderMaskedEdit::event(QEvent* event) {
    // Every way the user changes the text (keys, input method, paste from a menu or the
    // selection, drop) comes as an event. Not setMaxLength: that would also cut a longer value
    // set by the program.
    const QString before = text();
    const bool handled = QLineEdit::event(event);
    const QString after = text();
    if (after.size() > CSliderValueProp::kMaxChars && after.size() > before.size()) {
        const int cursor = cursorPosition() - static_cast<int>(after.size() - before.size());
        setText(before);
        setCursorPosition(std::clamp(cursor, 0, static_cast<int>(before.size())));
    }
    return handled;
}

void CPropSliderMaskedEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    m_item.OnEditFocusLost();
}

CPropSliderCtrl::CPropSliderCtrl(CSliderValueProp& item, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), m_item(item) {
    UseGridBackground(this, item.GetGrid());
    connect(this, &QAbstractSlider::actionTriggered, this, &CPropSliderCtrl::OnAction);
}

propview::SliderRepeat& CPropSliderCtrl::Repeat() {
    static propview::SliderRepeat repeat;
    return repeat;
}

void CPropSliderCtrl::OnAction(int action) {
    propview::SliderAction kind;
    switch (action) {
    case SliderSingleStepAdd:
    case SliderSingleStepSub:
        kind = propview::SliderAction::Line;
        break;
    case SliderPageStepAdd:
    case SliderPageStepSub:
        kind = propview::SliderAction::Page;
        break;
    case SliderToMinimum:
        kind = propview::SliderAction::ToStart;
        break;
    case SliderToMaximum:
        kind = propview::SliderAction::ToEnd;
        break;
    case SliderMove:
        kind = propview::SliderAction::Track;
        break;
    default:
        return;
    }
    int position = 0;
    const bool moved =
        propview::MoveSlider(Repeat(), kind, sliderPosition(), minimum(), maximum(), position);
    // The slider takes this position once the action is done.
    setSliderPosition(position);
    if (moved)
        m_item.OnSliderMoved(position);
}

void CPropSliderCtrl::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    if (!event->isAutoRepeat() && IsScrollKey(event->key())) {
        int position = 0;
        propview::MoveSlider(Repeat(), propview::SliderAction::End, sliderPosition(), minimum(),
                             maximum(), position);
        m_item.OnSliderMoved(position);
    }
}

void CPropSliderCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    int position = 0;
    propview::MoveSlider(Repeat(), propview::SliderAction::End, sliderPosition(), minimum(),
                         maximum(), position);
    m_item.OnSliderMoved(position);
}

// --- CSliderValueProp ------------------------------------------------------------------------

CSliderValueProp::CSliderValueProp(const QString& name, int64_t value, const QString& description)
    : CMFCPropertyGridPropertyEx(
          name, PropValue(value), description,
          QString::fromUtf16(propview::kIntegerChars.data(),
                             static_cast<qsizetype>(propview::kIntegerChars.size()))) {}

QLineEdit* CSliderValueProp::CreateInPlaceEdit(const QRect& rect, bool& defaultFormat) {
    auto* edit = new CPropSliderMaskedEdit(*this, GetGrid()->viewport());
    ConfigureInPlaceEdit(edit, rect);
    defaultFormat = true;
    return edit;
}

QLineEdit* CSliderValueProp::GetEdit() const {
    return qobject_cast<QLineEdit*>(m_inPlaceEditor.data());
}

QRect CSliderValueProp::GetEditRect(const QRect& valueRect) const {
    QRect rect = CMFCPropertyGridPropertyEx::GetEditRect(valueRect);
    if (HasSpin())
        rect.setWidth(std::min(rect.width(), (rect.height() / 2) * 10));
    return rect;
}

QRect CSliderValueProp::GetSliderRect(const QRect& valueRect) const {
    const QRect edit = GetEditRect(valueRect);
    return QRect(edit.right() + 1, edit.top(), std::max(0, valueRect.right() - edit.right()),
                 edit.height());
}

bool CSliderValueProp::OnEdit(const QPoint* click) {
    if (std::holds_alternative<std::monostate>(m_value) || !GetGrid())
        return false;
    if (OnRangeRequest)
        OnRangeRequest(*this);
    if (!CMFCPropertyGridPropertyEx::OnEdit(click))
        return false;
    if (HasSpin())
        CreateSlider();
    m_commitPending = true;
    return true;
}

int CSliderValueProp::SliderPositionOfValue() const {
    // A value beyond 32 bits stands at the nearest end of the slider.
    return propvalue::ClampToInt32(propvalue::AsInt64(m_value));
}

void CSliderValueProp::CreateSlider() {
    CMFCPropertyGridCtrlEx* grid = GetGrid();
    if (!grid || m_slider)
        return;
    auto* slider = new CPropSliderCtrl(*this, grid->viewport());
    if (GetMin32() != 0 || GetMax32() != 0)
        slider->setRange(GetMin32(), GetMax32());
    slider->setPageStep(PageStepOfRange(slider->minimum(), slider->maximum()));
    slider->setValue(SliderPositionOfValue());
    slider->setGeometry(GetSliderRect(ValueRect()));
    slider->installEventFilter(grid);
    // A new slider starts a new run of movements.
    CPropSliderCtrl::Repeat() = {propview::SliderAction::End, 0, slider->value()};
    m_slider = slider;
    slider->show();
}

void CSliderValueProp::OnSliderMoved(int position) {
    propvalue::StoreInteger(m_value, position);
    if (QLineEdit* edit = GetEdit())
        edit->setText(FormatProperty());
}

void CSliderValueProp::OnEditFocusLost() {
    CMFCPropertyGridCtrlEx* grid = GetGrid();
    QLineEdit* edit = GetEdit();
    if (!grid || !edit || !m_inPlaceEdit || grid->GetEndEditFlag() != 1)
        return;
    SetValueFromText(edit->text());
    if (m_slider) {
        m_slider->setValue(SliderPositionOfValue());
        m_slider->update();
    }
}

bool CSliderValueProp::OnUpdateValue() {
    return UpdateFromEdit();
}

bool CSliderValueProp::OnEndEdit() {
    CMFCPropertyGridCtrlEx* grid = GetGrid();
    // A cancelled edit leaves the value as it was when the edit started, whatever the slider
    // did meanwhile.
    if (grid && grid->GetEndEditFlag() == 0)
        m_value = m_originalValue;
    m_commitPending = false;
    return CMFCPropertyGridPropertyEx::OnEndEdit();
}

void CSliderValueProp::OnDestroyWindow() {
    if (m_slider) {
        CPropSliderCtrl* slider = m_slider;
        m_slider = nullptr;
        slider->removeEventFilter(GetGrid());
        slider->hide();
        slider->deleteLater();
    }
    CMFCPropertyGridPropertyEx::OnDestroyWindow();
}

void CSliderValueProp::RepositionWindows() {
    CMFCPropertyGridPropertyEx::RepositionWindows();
    if (m_slider)
        m_slider->setGeometry(GetSliderRect(ValueRect()));
}

// --- CCheckBoxProp ---------------------------------------------------------------------------

CCheckBoxProp::CCheckBoxProp(const QString& name, bool checked, const QString& description)
    : CMFCPropertyGridPropertyEx(name, PropValue(int32_t{checked ? 1 : 0}), description) {
    AllowEdit(false);
}

QRect CCheckBoxProp::BoxRect(const QRect& valueRect) {
    const QRect inner = valueRect.adjusted(1, 1, -1, -1);
    return QRect(inner.left(), inner.top(), inner.height(), inner.height());
}

void CCheckBoxProp::OnDrawValue(QPainter& painter, const QRect& rect) {
    m_valueTruncated = false;
    QWidget* widget = GetGrid() ? GetGrid()->viewport() : nullptr;
    QStyle* style = widget ? widget->style() : QApplication::style();
    QStyleOptionButton option;
    if (widget)
        option.initFrom(widget);
    option.rect = BoxRect(rect);
    option.state = (propvalue::AsInt64(m_value) != 0 ? QStyle::State_On : QStyle::State_Off) |
                   (IsEnabled() ? QStyle::State_Enabled : QStyle::State_None);
    if (!IsEnabled())
        option.palette.setCurrentColorGroup(QPalette::Disabled);
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, widget);
}

void CCheckBoxProp::Toggle() {
    propvalue::StoreInteger(m_value, propvalue::AsInt64(m_value) != 0 ? 0 : 1);
    Redraw();
    CommitValue();
    if (CMFCPropertyGridCtrlEx* grid = GetGrid()) {
        grid->EndEditItem();
        if (QWidget::mouseGrabber() == grid->viewport())
            grid->viewport()->releaseMouse();
    }
}

bool CCheckBoxProp::OnClickValue(Qt::MouseButton button, const QPoint& /*point*/) {
    if (button == Qt::LeftButton && IsEnabled())
        Toggle();
    return true;
}

bool CCheckBoxProp::OnActivateByKey() {
    if (!IsEnabled())
        return false;
    Toggle();
    return true;
}

// --- CButtonProp -----------------------------------------------------------------------------

CButtonProp::CButtonProp(const QString& name, const QString& description)
    : CMFCPropertyGridPropertyEx(name, PropValue(std::u16string(u"(Command)")), description) {
    AllowEdit(false);
}

QRect CButtonProp::GetButtonRect(const QRect& valueRect) const {
    const QRect standard = CMFCPropertyGridPropertyEx::GetButtonRect(valueRect);
    const int width = standard.width() * 4;
    const int left = std::max(valueRect.left(), standard.right() + 1 - width);
    return QRect(left, standard.top(), standard.right() + 1 - left, standard.height());
}

void CButtonProp::OnDrawButton(QPainter& painter, const QRect& rect) {
    QWidget* widget = GetGrid() ? GetGrid()->viewport() : nullptr;
    QStyle* style = widget ? widget->style() : QApplication::style();
    QStyleOptionToolButton option;
    if (widget)
        option.initFrom(widget);
    option.rect = rect.adjusted(1, 1, -1, -1);
    option.state = QStyle::State_Raised | QStyle::State_AutoRaise;
    if (IsEnabled())
        option.state |= QStyle::State_Enabled | QStyle::State_MouseOver;
    else
        option.palette.setCurrentColorGroup(QPalette::Disabled);
    style->drawPrimitive(QStyle::PE_PanelButtonTool, &option, &painter, widget);
    style->drawPrimitive(QStyle::PE_FrameButtonTool, &option, &painter, widget);
    painter.save();
    painter.setPen(option.palette.color(IsEnabled() ? QPalette::Active : QPalette::Disabled,
                                        QPalette::ButtonText));
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("Execute"));
    painter.restore();
}

void CButtonProp::OnClickButton(const QPoint& point) {
    if (!IsEnabled())
        return;
    CommitValue(&point);
    if (CMFCPropertyGridCtrlEx* grid = GetGrid())
        grid->EndEditItem();
}

bool CButtonProp::OnActivateByKey() {
    if (!IsEnabled() || !GetGrid())
        return false;
    OnClickButton(GetButtonRect(ValueRect()).center());
    return true;
}

// --- CSelectProp -----------------------------------------------------------------------------

CSelectProp::CSelectProp(const QString& name, const QString& value, const QString& description)
    : CMFCPropertyGridPropertyEx(name, PropValue(value.toStdU16String()), description) {
    AllowEdit(false);
}

void CSelectProp::OnSelectCombo(int index) {
    CMFCPropertyGridPropertyEx::OnSelectCombo(index);
    // Also when the entry shown was chosen again: the camera gets the value anew.
    if (index >= 0 && index < GetOptionCount())
        CommitValue();
}
