#include "ui/PropertyGridCtrlEx.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QTextLayout>
#include <QToolTip>
#include <QValidator>
#include <algorithm>
#include <utility>

namespace {

QString ToQ(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Accepts a text only when every character is one of the valid characters.
class ValidCharsValidator : public QValidator {
public:
    ValidCharsValidator(QString chars, QObject* parent)
        : QValidator(parent), m_chars(std::move(chars)) {}
    State validate(QString& input, int& /*pos*/) const override {
        for (QChar c : input)
            if (!m_chars.contains(c))
                return Invalid;
        return Acceptable;
    }

private:
    QString m_chars;
};

// The strip above the list with the column titles.
class GridHeader : public QWidget {
public:
    explicit GridHeader(CMFCPropertyGridCtrlEx* grid) : QWidget(grid), m_grid(grid) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        m_grid->DrawHeader(p, rect());
    }

private:
    CMFCPropertyGridCtrlEx* m_grid;
};

// The area under the list with the name and description of the selected item.
class GridDescription : public QWidget {
public:
    explicit GridDescription(CMFCPropertyGridCtrlEx* grid) : QWidget(grid), m_grid(grid) {
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Window);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        m_grid->DrawDescription(p, rect());
    }

private:
    CMFCPropertyGridCtrlEx* m_grid;
};

constexpr int kTextMargin = 3;

} // namespace

// --- CMFCPropertyGridProperty ----------------------------------------------------------------

CMFCPropertyGridProperty::CMFCPropertyGridProperty(const QString& groupName)
    : m_name(groupName), m_isGroup(true) {}

CMFCPropertyGridProperty::CMFCPropertyGridProperty(const QString& name, PropValue value,
                                                   const QString& description,
                                                   const QString& validChars)
    : m_value(std::move(value)), m_originalValue(m_value), m_name(name), m_description(description),
      m_validChars(validChars) {}

CMFCPropertyGridProperty::~CMFCPropertyGridProperty() {
    if (m_inPlaceEditor)
        m_inPlaceEditor->deleteLater();
    // Free the subtree with a list of its own, so a deep tree never becomes a deep recursion:
    // every item taken from the list hands its children to the list before it goes.
    std::vector<std::unique_ptr<CMFCPropertyGridProperty>> pending = std::move(m_children);
    while (!pending.empty()) {
        std::unique_ptr<CMFCPropertyGridProperty> item = std::move(pending.back());
        pending.pop_back();
        for (auto& child : item->m_children)
            pending.push_back(std::move(child));
        item->m_children.clear();
    }
}

CMFCPropertyGridProperty*
CMFCPropertyGridProperty::AddSubItem(std::unique_ptr<CMFCPropertyGridProperty> item) {
    if (!m_isGroup || !item)
        return nullptr;
    item->m_parent = this;
    item->AttachToGrid(m_grid);
    m_children.push_back(std::move(item));
    if (m_grid)
        m_grid->OnItemsChanged();
    return m_children.back().get();
}

CMFCPropertyGridProperty* CMFCPropertyGridProperty::GetSubItem(int index) const {
    if (index < 0 || index >= GetSubItemsCount())
        return nullptr;
    return m_children[static_cast<size_t>(index)].get();
}

QComboBox* CMFCPropertyGridProperty::InPlaceList() const {
    return m_combo;
}

void CMFCPropertyGridProperty::AttachToGrid(CMFCPropertyGridCtrlEx* grid) {
    std::vector<CMFCPropertyGridProperty*> stack{this};
    while (!stack.empty()) {
        CMFCPropertyGridProperty* item = stack.back();
        stack.pop_back();
        item->m_grid = grid;
        for (auto& child : item->m_children)
            stack.push_back(child.get());
    }
}

void CMFCPropertyGridProperty::Expand(bool expand) {
    if (!m_isGroup || m_expanded == expand)
        return;
    if (m_grid)
        m_grid->EndEditItem(true);
    m_expanded = expand;
    if (m_grid) {
        m_grid->OnItemsChanged();
        if (!expand)
            m_grid->SelectShownAncestor();
    }
}

void CMFCPropertyGridProperty::SetName(const QString& name) {
    m_name = name;
    Redraw();
}

void CMFCPropertyGridProperty::SetValue(const PropValue& value) {
    m_value = value;
    Redraw();
}

void CMFCPropertyGridProperty::SetDescription(const QString& description) {
    if (m_description == description)
        return;
    m_description = description;
    if (m_grid && IsSelected())
        m_grid->RedrawDescription();
}

void CMFCPropertyGridProperty::Enable(bool enable) {
    if (m_enabled == enable)
        return;
    m_enabled = enable;
    // An item that can no longer be changed drops its edit without taking the text.
    if (!enable && m_inPlaceEdit && m_grid)
        m_grid->EndEditItem(false);
    Redraw();
}

bool CMFCPropertyGridProperty::AddOption(const QString& text, bool noDuplicates) {
    if (noDuplicates && m_options.contains(text))
        return false;
    m_options.push_back(text);
    return true;
}

QString CMFCPropertyGridProperty::GetOption(int index) const {
    return index >= 0 && index < m_options.size() ? m_options[index] : QString();
}

void CMFCPropertyGridProperty::EnableSpinControl(bool enable, int32_t min, int32_t max) {
    m_spin = enable;
    m_min32 = min;
    m_max32 = max;
}

bool CMFCPropertyGridProperty::IsSelected() const {
    return m_grid && m_grid->SelectedItem() == this;
}

void CMFCPropertyGridProperty::Redraw() {
    if (m_grid)
        m_grid->RedrawItem(this);
}

QString CMFCPropertyGridProperty::FormatProperty() const {
    return ToQ(propvalue::Format(m_value));
}

bool CMFCPropertyGridProperty::SetValueFromText(const QString& text) {
    return propvalue::FromText(m_value, text.toStdU16String());
}

bool CMFCPropertyGridProperty::IsValueChanged() const {
    return m_value != m_originalValue;
}

bool CMFCPropertyGridProperty::HasTextEntry() const {
    return !m_isGroup && m_options.isEmpty() && propvalue::IsEditable(m_value);
}

bool CMFCPropertyGridProperty::DrawCellText(QPainter& painter, const QRect& rect,
                                            const QString& text) const {
    const QRect inner = rect.adjusted(kTextMargin, 0, -kTextMargin, 0);
    if (inner.width() <= 0)
        return !text.isEmpty();
    const QFontMetrics fm(painter.font());
    // One line: line breaks in the value are shown as blanks.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QString shown = fm.elidedText(line, Qt::ElideRight, inner.width());
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    return shown != line;
}

void CMFCPropertyGridProperty::OnDrawName(QPainter& painter, const QRect& rect) {
    m_nameTruncated = DrawCellText(painter, rect, m_name);
}

void CMFCPropertyGridProperty::OnDrawValue(QPainter& painter, const QRect& rect) {
    m_valueTruncated = DrawCellText(painter, rect, FormatProperty());
}

void CMFCPropertyGridProperty::OnDrawDescription(QPainter& painter, const QRect& rect) {
    const QRect inner = rect.adjusted(kTextMargin, kTextMargin, -kTextMargin, -kTextMargin);
    QFont bold = painter.font();
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    painter.save();
    painter.setFont(bold);
    painter.drawText(QRect(inner.left(), inner.top(), inner.width(), boldMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     boldMetrics.elidedText(m_name, Qt::ElideRight, inner.width()));
    painter.restore();
    QRect text = inner.adjusted(0, boldMetrics.height() + 1, 0, 0);
    if (text.height() > 0)
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_description);
}

QRect CMFCPropertyGridProperty::GetButtonRect(const QRect& valueRect) const {
    const int side = valueRect.height();
    return QRect(valueRect.right() - side + 1, valueRect.top(), side, side);
}

void CMFCPropertyGridProperty::OnDrawButton(QPainter& painter, const QRect& rect) {
    QWidget* widget = m_grid ? m_grid->viewport() : nullptr;
    QStyle* style = widget ? widget->style() : QApplication::style();
    QStyleOption option;
    option.initFrom(widget);
    option.rect = rect.adjusted(1, 1, -1, -1);
    option.state = QStyle::State_Raised | (m_enabled ? QStyle::State_Enabled : QStyle::State_None);
    style->drawPrimitive(QStyle::PE_PanelButtonTool, &option, &painter, widget);
    style->drawPrimitive(QStyle::PE_IndicatorArrowDown, &option, &painter, widget);
}

void CMFCPropertyGridProperty::OnClickButton(const QPoint& /*point*/) {
    if (!m_grid)
        return;
    if (!m_inPlaceEdit)
        m_grid->EditItem(this);
    if (m_combo)
        m_combo->showPopup();
}

bool CMFCPropertyGridProperty::OnClickValue(Qt::MouseButton /*button*/, const QPoint& /*point*/) {
    return false;
}

QRect CMFCPropertyGridProperty::ValueRect() const {
    return m_grid ? m_grid->ValueRect(this) : QRect();
}

QRect CMFCPropertyGridProperty::GetEditRect(const QRect& valueRect) const {
    QRect rect = valueRect.adjusted(1, 1, 0, -1);
    if (HasButton())
        rect.setRight(GetButtonRect(valueRect).left() - 1);
    return rect;
}

QLineEdit* CMFCPropertyGridProperty::CreateInPlaceEdit(const QRect& rect, bool& defaultFormat) {
    auto* edit = new QLineEdit(m_grid->viewport());
    ConfigureInPlaceEdit(edit, rect);
    defaultFormat = true;
    return edit;
}

void CMFCPropertyGridProperty::ConfigureInPlaceEdit(QLineEdit* edit, const QRect& rect) const {
    edit->setFrame(false);
    if (!m_validChars.isEmpty())
        edit->setValidator(new ValidCharsValidator(m_validChars, edit));
    edit->setGeometry(rect);
    edit->setReadOnly(!m_enabled || !m_allowEdit);
}

void CMFCPropertyGridProperty::AdoptInPlaceWindow(QWidget* window) {
    window->setFont(m_grid->font());
    window->installEventFilter(m_grid);
}

bool CMFCPropertyGridProperty::OnEdit(const QPoint* click) {
    if (m_isGroup || !m_grid || std::holds_alternative<std::monostate>(m_value))
        return false;
    m_originalValue = m_value;
    const QRect valueRect = ValueRect();
    if (!m_options.isEmpty()) {
        auto* combo = new QComboBox(m_grid->viewport());
        combo->addItems(m_options);
        combo->setCurrentIndex(static_cast<int>(m_options.indexOf(FormatProperty())));
        combo->setGeometry(valueRect.adjusted(0, 0, 0, 0));
        AdoptInPlaceWindow(combo);
        QObject::connect(combo, &QComboBox::activated, m_grid,
                         &CMFCPropertyGridCtrlEx::OnComboActivated);
        m_combo = combo;
        m_inPlaceEditor = combo;
        m_inPlaceEdit = true;
        combo->show();
        combo->setFocus(Qt::OtherFocusReason);
        if (click)
            combo->showPopup();
        return true;
    }
    if (!HasTextEntry())
        return false;
    bool defaultFormat = false;
    QLineEdit* edit = CreateInPlaceEdit(GetEditRect(valueRect), defaultFormat);
    if (!edit)
        return false;
    if (defaultFormat)
        edit->setText(FormatProperty());
    AdoptInPlaceWindow(edit);
    m_inPlaceEditor = edit;
    m_inPlaceEdit = true;
    edit->show();
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    return true;
}

bool CMFCPropertyGridProperty::OnUpdateValue() {
    auto* edit = qobject_cast<QLineEdit*>(m_inPlaceEditor.data());
    if (!edit)
        return true;
    const QString text = edit->text();
    const bool changed = text != FormatProperty();
    if (SetValueFromText(text) && changed && m_grid)
        m_grid->OnPropertyChanged(this);
    return true;
}

bool CMFCPropertyGridProperty::OnEndEdit() {
    m_inPlaceEdit = false;
    OnDestroyWindow();
    Redraw();
    return true;
}

void CMFCPropertyGridProperty::OnDestroyWindow() {
    if (m_inPlaceEditor) {
        QWidget* window = m_inPlaceEditor;
        if (m_combo)
            m_combo->hidePopup();
        m_inPlaceEditor = nullptr;
        m_combo = nullptr;
        window->removeEventFilter(m_grid);
        window->hide();
        window->deleteLater();
    }
}

void CMFCPropertyGridProperty::OnSelectCombo(int index) {
    if (index < 0 || index >= m_options.size())
        return;
    m_value = m_options[index].toStdU16String();
    Redraw();
    if (m_grid)
        m_grid->OnPropertyChanged(this);
}

bool CMFCPropertyGridProperty::StartEditWithText(const QString& text) {
    if (!m_enabled || !m_allowEdit || !HasTextEntry() || !m_grid)
        return false;
    if (!m_inPlaceEdit && !m_grid->EditItem(this))
        return false;
    auto* edit = qobject_cast<QLineEdit*>(m_inPlaceEditor.data());
    if (!edit)
        return false;
    edit->selectAll();
    // Typed as if on the edit, so its valid characters and length apply.
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(edit, &press);
    return true;
}

bool CMFCPropertyGridProperty::OnSetCursor() const {
    return HasTextEntry() && m_allowEdit;
}

void CMFCPropertyGridProperty::RepositionWindows() {
    if (!m_inPlaceEditor)
        return;
    const QRect valueRect = ValueRect();
    if (m_combo)
        m_inPlaceEditor->setGeometry(valueRect);
    else
        m_inPlaceEditor->setGeometry(GetEditRect(valueRect));
}

// --- CMFCPropertyGridCtrlEx ------------------------------------------------------------------

CMFCPropertyGridCtrlEx::CMFCPropertyGridCtrlEx(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
    m_header = new GridHeader(this);
    m_descriptionArea = new GridDescription(this);
    m_headerName = QStringLiteral("Property");
    m_headerValue = QStringLiteral("Value");
    m_focusConnection =
        connect(qApp, &QApplication::focusChanged, this, &CMFCPropertyGridCtrlEx::OnFocusChanged);
    UpdateRowHeight();
}

CMFCPropertyGridCtrlEx::~CMFCPropertyGridCtrlEx() {
    // The windows of an edit go with the viewport; nothing may call back into the grid then.
    disconnect(m_focusConnection);
    RemoveAll();
}

CMFCPropertyGridProperty*
CMFCPropertyGridCtrlEx::AddProperty(std::unique_ptr<CMFCPropertyGridProperty> item) {
    if (!item)
        return nullptr;
    item->AttachToGrid(this);
    m_items.push_back(std::move(item));
    OnItemsChanged();
    return m_items.back().get();
}

void CMFCPropertyGridCtrlEx::RemoveAll() {
    EndEditItem(false);
    m_sel = nullptr;
    m_items.clear();
    m_visible.clear();
    m_visibleDirty = false;
    verticalScrollBar()->setValue(0);
    UpdateScrollBar();
    viewport()->update();
    RedrawDescription();
}

CMFCPropertyGridProperty* CMFCPropertyGridCtrlEx::GetProperty(int index) const {
    if (index < 0 || index >= GetPropertyCount())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

void CMFCPropertyGridCtrlEx::ExpandAll(bool expand) {
    EndEditItem(true);
    std::vector<CMFCPropertyGridProperty*> stack;
    for (auto& item : m_items)
        stack.push_back(item.get());
    while (!stack.empty()) {
        CMFCPropertyGridProperty* item = stack.back();
        stack.pop_back();
        if (item->IsGroup())
            item->SetExpandedFlag(expand);
        for (int i = 0; i < item->GetSubItemsCount(); ++i)
            stack.push_back(item->GetSubItem(i));
    }
    OnItemsChanged();
    SelectShownAncestor();
    if (m_sel)
        EnsureVisible(m_sel);
}

void CMFCPropertyGridCtrlEx::SelectShownAncestor() {
    CMFCPropertyGridProperty* shown = m_sel;
    for (CMFCPropertyGridProperty* p = m_sel ? m_sel->GetParent() : nullptr; p; p = p->GetParent())
        if (!p->IsExpanded())
            shown = p;
    if (shown != m_sel)
        SelectItem(shown);
}

void CMFCPropertyGridCtrlEx::SetHeaderTexts(const QString& name, const QString& value) {
    m_headerName = name;
    m_headerValue = value;
    m_header->update();
}

void CMFCPropertyGridCtrlEx::EnableHeaderCtrl(bool show) {
    m_showHeader = show;
    LayoutAreas();
}

void CMFCPropertyGridCtrlEx::EnableDescriptionArea(bool enable) {
    m_showDescription = enable;
    LayoutAreas();
}

void CMFCPropertyGridCtrlEx::SetDescriptionRows(int rows) {
    m_descriptionRows = std::max(0, rows);
    LayoutAreas();
}

void CMFCPropertyGridCtrlEx::SetLeftColumnWidth(int width) {
    const int total = viewport()->width();
    m_nameWidth = std::clamp(width, m_rowHeight * 2, std::max(m_rowHeight * 2, total - 16));
    m_header->update();
    viewport()->update();
    if (m_sel)
        m_sel->RepositionWindows();
}

void CMFCPropertyGridCtrlEx::UpdateRowHeight() {
    m_rowHeight = QFontMetrics(font()).height() + 4;
    LayoutAreas();
}

void CMFCPropertyGridCtrlEx::LayoutAreas() {
    const QFontMetrics fm(font());
    const int headerHeight = m_showHeader ? m_rowHeight + 2 : 0;
    // The name line and the description rows, with a margin above and below.
    const int descriptionHeight =
        m_showDescription && m_descriptionRows > 0 ? fm.lineSpacing() * m_descriptionRows + 8 : 0;
    setViewportMargins(0, headerHeight, 0, descriptionHeight);
    const QRect contents = contentsRect();
    const QRect vp = viewport()->geometry();
    m_header->setGeometry(vp.left(), vp.top() - headerHeight, vp.width(), headerHeight);
    m_header->setVisible(headerHeight > 0);
    m_descriptionArea->setGeometry(contents.left(), contents.bottom() + 1 - descriptionHeight,
                                   contents.width(), descriptionHeight);
    m_descriptionArea->setVisible(descriptionHeight > 0);
    m_descriptionArea->raise();
    UpdateScrollBar();
    if (m_sel)
        m_sel->RepositionWindows();
}

const std::vector<CMFCPropertyGridProperty*>& CMFCPropertyGridCtrlEx::VisibleRows() const {
    if (m_visibleDirty)
        RebuildVisibleRows();
    return m_visible;
}

void CMFCPropertyGridCtrlEx::RebuildVisibleRows() const {
    m_visible.clear();
    // Depth-first in tree order with a stack of (item, depth, shown).
    struct Frame {
        CMFCPropertyGridProperty* item;
        int depth;
        bool shown;
    };
    std::vector<Frame> stack;
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it)
        stack.push_back({it->get(), 0, true});
    while (!stack.empty()) {
        const Frame f = stack.back();
        stack.pop_back();
        f.item->SetLayoutPlace(f.depth, f.shown ? static_cast<int>(m_visible.size()) : -1);
        if (f.shown)
            m_visible.push_back(f.item);
        const bool childrenShown = f.shown && f.item->IsExpanded();
        for (int i = f.item->GetSubItemsCount() - 1; i >= 0; --i)
            stack.push_back({f.item->GetSubItem(i), f.depth + 1, childrenShown});
    }
    m_visibleDirty = false;
}

void CMFCPropertyGridCtrlEx::UpdateScrollBar() {
    const int rows = static_cast<int>(VisibleRows().size());
    const int page = std::max(1, viewport()->height() / std::max(1, m_rowHeight));
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, rows - page));
    bar->setPageStep(page);
    bar->setSingleStep(1);
}

int CMFCPropertyGridCtrlEx::RowIndex(const CMFCPropertyGridProperty* item) const {
    if (!item || item->GetGrid() != this)
        return -1;
    VisibleRows();
    return item->LayoutRow();
}

int CMFCPropertyGridCtrlEx::FirstRow() const {
    return verticalScrollBar()->value();
}

QRect CMFCPropertyGridCtrlEx::RowRect(const CMFCPropertyGridProperty* item) const {
    const int row = RowIndex(item);
    if (row < 0)
        return QRect();
    return QRect(0, (row - FirstRow()) * m_rowHeight, viewport()->width(), m_rowHeight);
}

int CMFCPropertyGridCtrlEx::GetLeftColumnWidth() const {
    if (m_nameWidth >= 0)
        return m_nameWidth;
    return viewport()->width() / 2;
}

QRect CMFCPropertyGridCtrlEx::ValueRect(const CMFCPropertyGridProperty* item) const {
    const QRect row = RowRect(item);
    if (row.isNull() || item->IsGroup())
        return QRect();
    const int left = GetLeftColumnWidth() + 1;
    return QRect(left, row.top(), std::max(0, row.width() - left), row.height() - 1);
}

QRect CMFCPropertyGridCtrlEx::NameRect(const CMFCPropertyGridProperty* item) const {
    const QRect row = RowRect(item);
    if (row.isNull())
        return QRect();
    const int indent = m_rowHeight * (item->Depth() + 1);
    if (item->IsGroup())
        return QRect(indent, row.top(), std::max(0, row.width() - indent), row.height() - 1);
    return QRect(indent, row.top(), std::max(0, GetLeftColumnWidth() - indent), row.height() - 1);
}

QRect CMFCPropertyGridCtrlEx::ExpandBoxRect(const CMFCPropertyGridProperty* item) const {
    const QRect row = RowRect(item);
    if (row.isNull() || !item->IsGroup())
        return QRect();
    return QRect(m_rowHeight * item->Depth(), row.top(), m_rowHeight, m_rowHeight);
}

CMFCPropertyGridProperty* CMFCPropertyGridCtrlEx::HitTest(const QPoint& point) const {
    if (point.y() < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return nullptr;
    const auto& rows = VisibleRows();
    const int row = FirstRow() + point.y() / m_rowHeight;
    return row < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(row)] : nullptr;
}

bool CMFCPropertyGridCtrlEx::OnDivider(int x) const {
    return std::abs(x - GetLeftColumnWidth()) <= 3;
}

void CMFCPropertyGridCtrlEx::SelectItem(CMFCPropertyGridProperty* item, bool redraw) {
    if (m_sel == item)
        return;
    if (m_sel && m_sel->IsInPlaceEditing())
        EndEditItem(true);
    m_sel = item;
    if (item)
        EnsureVisible(item);
    if (redraw) {
        viewport()->update();
        RedrawDescription();
    }
}

bool CMFCPropertyGridCtrlEx::EditItem(CMFCPropertyGridProperty* item, const QPoint* click) {
    if (!item || item->IsGroup() || !item->IsEnabled() || item->GetGrid() != this)
        return false;
    SelectItem(item);
    if (item->IsInPlaceEditing())
        return true;
    EnsureVisible(item);
    m_endEditFlag = 1;
    const bool started = item->OnEdit(click);
    viewport()->update();
    return started;
}

bool CMFCPropertyGridCtrlEx::EndEditItem(bool update) {
    if (!m_sel || !m_sel->IsInPlaceEditing())
        return true;
    if (m_endingEdit)
        return false;
    m_endingEdit = true;
    m_endEditFlag = update ? 1 : 0;
    const QWidget* focus = QApplication::focusWidget();
    const bool editorHadFocus = focus && focus != this && OwnsWidget(focus);
    CMFCPropertyGridProperty* item = m_sel;
    if (update)
        item->OnUpdateValue();
    // The commit may have ended the edit itself or emptied the grid.
    if (m_sel == item && item->IsInPlaceEditing())
        item->OnEndEdit();
    m_endingEdit = false;
    if (editorHadFocus)
        setFocus(Qt::OtherFocusReason);
    viewport()->update();
    return true;
}

void CMFCPropertyGridCtrlEx::EnsureVisible(CMFCPropertyGridProperty* item) {
    // Open the groups above the item first.
    bool opened = false;
    for (CMFCPropertyGridProperty* p = item ? item->GetParent() : nullptr; p; p = p->GetParent())
        if (!p->IsExpanded()) {
            p->SetExpandedFlag(true);
            opened = true;
        }
    if (opened)
        OnItemsChanged();
    UpdateScrollBar();
    const int row = RowIndex(item);
    if (row < 0)
        return;
    QScrollBar* bar = verticalScrollBar();
    const int page = std::max(1, viewport()->height() / std::max(1, m_rowHeight));
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + page)
        bar->setValue(row - page + 1);
}

void CMFCPropertyGridCtrlEx::OnPropertyChanged(CMFCPropertyGridProperty* item) {
    RedrawItem(item);
    Q_EMIT propertyChanged(item);
}

void CMFCPropertyGridCtrlEx::OnItemsChanged() {
    m_visibleDirty = true;
    viewport()->update();
    // The scroll range follows once the current batch of changes is done, so adding many rows
    // lays them out once.
    if (!m_layoutPending) {
        m_layoutPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_layoutPending = false;
                UpdateScrollBar();
                if (m_sel)
                    m_sel->RepositionWindows();
            },
            Qt::QueuedConnection);
    }
}

void CMFCPropertyGridCtrlEx::RedrawItem(const CMFCPropertyGridProperty* item) {
    if (!viewport()->updatesEnabled())
        return;
    if (m_visibleDirty) {
        viewport()->update();
        return;
    }
    const QRect row = RowRect(item);
    if (!row.isNull())
        viewport()->update(row);
    if (item == m_sel)
        RedrawDescription();
}

void CMFCPropertyGridCtrlEx::RedrawDescription() {
    m_descriptionArea->update();
}

void CMFCPropertyGridCtrlEx::DrawDescription(QPainter& painter, const QRect& rect) {
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    if (m_sel)
        m_sel->OnDrawDescription(painter, rect.adjusted(0, 1, 0, 0));
}

void CMFCPropertyGridCtrlEx::DrawHeader(QPainter& painter, const QRect& rect) {
    const int split = GetLeftColumnWidth();
    const QString titles[2] = {m_headerName, m_headerValue};
    const QRect sections[2] = {QRect(rect.left(), rect.top(), split, rect.height()),
                               QRect(split, rect.top(), rect.width() - split, rect.height())};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionHeader option;
        option.initFrom(m_header);
        option.rect = sections[i];
        option.text = titles[i];
        option.section = i;
        option.position = i == 0 ? QStyleOptionHeader::Beginning : QStyleOptionHeader::End;
        option.orientation = Qt::Horizontal;
        style()->drawControl(QStyle::CE_Header, &option, &painter, m_header);
    }
}

void CMFCPropertyGridCtrlEx::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    const QPalette& pal = palette();
    painter.fillRect(area, pal.color(QPalette::Base));
    const auto& rows = VisibleRows();
    const int width = viewport()->width();
    const int split = GetLeftColumnWidth();
    const QColor lineColor = pal.color(QPalette::Midlight).darker(110);
    const QColor marginColor = pal.color(QPalette::Button);
    const bool focused =
        hasFocus() || (QApplication::focusWidget() && OwnsWidget(QApplication::focusWidget()));
    // Colours from the palette only, each text on the background of its role, so that a dark
    // theme stays readable.
    QFont boldFont = font();
    boldFont.setBold(true);

    int y = 0;
    for (size_t i = static_cast<size_t>(std::max(0, FirstRow()));
         i < rows.size() && y < viewport()->height(); ++i, y += m_rowHeight) {
        CMFCPropertyGridProperty* item = rows[i];
        const QRect row(0, y, width, m_rowHeight);
        if (!row.intersects(area))
            continue;
        const int indent = m_rowHeight * (item->Depth() + 1);
        const bool selected = item == m_sel;
        const QColor textColor =
            pal.color(item->IsEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text);
        if (item->IsGroup()) {
            painter.fillRect(row, marginColor);
            const QRect box = ExpandBoxRect(item).adjusted(0, 0, 0, 0);
            const int side = std::max(7, (m_rowHeight / 2) | 1);
            const QRect square(box.center().x() - side / 2, box.center().y() - side / 2, side,
                               side);
            painter.setPen(pal.color(QPalette::Dark));
            painter.fillRect(square, pal.color(QPalette::Base));
            painter.drawRect(square.adjusted(0, 0, -1, -1));
            painter.setPen(pal.color(QPalette::Text));
            const int c = square.center().y();
            painter.drawLine(square.left() + 2, c, square.right() - 2, c);
            if (!item->IsExpanded()) {
                const int cx = square.center().x();
                painter.drawLine(cx, square.top() + 2, cx, square.bottom() - 2);
            }
            QRect name = NameRect(item);
            if (selected) {
                painter.fillRect(name, pal.color(focused ? QPalette::Highlight : QPalette::Mid));
                painter.setPen(pal.color(QPalette::HighlightedText));
            } else {
                painter.setPen(pal.color(QPalette::ButtonText)); // on the margin colour
            }
            painter.setFont(boldFont);
            item->OnDrawName(painter, name);
            painter.setFont(font());
        } else {
            painter.fillRect(QRect(0, y, indent, m_rowHeight), marginColor);
            const QRect name = NameRect(item);
            if (selected) {
                painter.fillRect(name, pal.color(focused ? QPalette::Highlight : QPalette::Mid));
                painter.setPen(pal.color(QPalette::HighlightedText));
            } else {
                painter.setPen(textColor);
            }
            item->OnDrawName(painter, name);
            const QRect value = ValueRect(item);
            painter.setPen(textColor);
            QRect valueText = value;
            if (item->HasButton()) {
                const QRect button = item->GetButtonRect(value);
                valueText.setRight(button.left() - 1);
                item->OnDrawButton(painter, button);
            }
            painter.setPen(textColor);
            if (!item->InPlaceEditor())
                item->OnDrawValue(painter, valueText);
            painter.setPen(lineColor);
            painter.drawLine(split, y, split, y + m_rowHeight - 1);
        }
        painter.setPen(lineColor);
        painter.drawLine(indent, y + m_rowHeight - 1, width, y + m_rowHeight - 1);
    }
}

void CMFCPropertyGridCtrlEx::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    LayoutAreas();
    if (m_nameWidth >= 0)
        SetLeftColumnWidth(m_nameWidth);
}

void CMFCPropertyGridCtrlEx::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && OnDivider(point.x()) && HitTest(point) &&
        !HitTest(point)->IsGroup()) {
        EndEditItem(true);
        m_draggingDivider = true;
        return;
    }
    CMFCPropertyGridProperty* item = HitTest(point);
    if (!item) {
        EndEditItem(true);
        return;
    }
    if (item->IsGroup()) {
        SelectItem(item);
        if (event->button() == Qt::LeftButton && ExpandBoxRect(item).contains(point))
            item->Expand(!item->IsExpanded());
        return;
    }
    const bool wasEditing = item->IsInPlaceEditing();
    SelectItem(item);
    if (event->button() != Qt::LeftButton || !item->IsEnabled())
        return;
    const QRect value = ValueRect(item);
    if (!value.contains(point))
        return;
    if (item->HasButton() && item->GetButtonRect(value).contains(point)) {
        item->OnClickButton(point);
        return;
    }
    if (item->OnClickValue(event->button(), point))
        return;
    if (!wasEditing)
        EditItem(item, &point);
}

void CMFCPropertyGridCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click opens or closes a group. On an item the first click has already acted
    // (toggled a check box, started an edit); the second one does nothing more.
    const QPoint point = event->position().toPoint();
    CMFCPropertyGridProperty* item = HitTest(point);
    if (item && item->IsGroup() && event->button() == Qt::LeftButton &&
        !ExpandBoxRect(item).contains(point))
        item->Expand(!item->IsExpanded());
    else if (item && item->IsGroup())
        mousePressEvent(event);
}

void CMFCPropertyGridCtrlEx::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (m_draggingDivider) {
        SetLeftColumnWidth(point.x());
        return;
    }
    CMFCPropertyGridProperty* item = HitTest(point);
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (item && !item->IsGroup()) {
        if (OnDivider(point.x()))
            shape = Qt::SplitHCursor;
        else if (item->IsEnabled() && item->OnSetCursor() && ValueRect(item).contains(point) &&
                 !(item->HasButton() && item->GetButtonRect(ValueRect(item)).contains(point)))
            shape = Qt::IBeamCursor;
    }
    viewport()->setCursor(shape);
}

void CMFCPropertyGridCtrlEx::mouseReleaseEvent(QMouseEvent* event) {
    m_draggingDivider = false;
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void CMFCPropertyGridCtrlEx::MoveSelection(int rows) {
    const auto& visible = VisibleRows();
    if (visible.empty())
        return;
    const int current = RowIndex(m_sel);
    SelectRow(current < 0 ? 0 : current + rows);
}

void CMFCPropertyGridCtrlEx::SelectRow(int row) {
    const auto& visible = VisibleRows();
    if (visible.empty())
        return;
    row = std::clamp(row, 0, static_cast<int>(visible.size()) - 1);
    SelectItem(visible[static_cast<size_t>(row)]);
}

void CMFCPropertyGridCtrlEx::keyPressEvent(QKeyEvent* event) {
    const int page = std::max(1, viewport()->height() / std::max(1, m_rowHeight) - 1);
    CMFCPropertyGridProperty* sel = m_sel;
    switch (event->key()) {
    case Qt::Key_Up:
        MoveSelection(-1);
        return;
    case Qt::Key_Down:
        if (event->modifiers() & Qt::AltModifier) {
            // Alt+Down opens the list of a drop-down row, as F4 does.
            if (sel && sel->GetOptionCount() > 0 && sel->IsEnabled())
                sel->OnClickButton(QPoint());
            return;
        }
        MoveSelection(1);
        return;
    case Qt::Key_PageUp:
        MoveSelection(-page);
        return;
    case Qt::Key_PageDown:
        MoveSelection(page);
        return;
    case Qt::Key_Home:
        SelectRow(0);
        return;
    case Qt::Key_End:
        SelectRow(static_cast<int>(VisibleRows().size()) - 1);
        return;
    case Qt::Key_Left:
        if (sel && sel->IsGroup() && sel->IsExpanded())
            sel->Expand(false);
        else if (sel && sel->GetParent())
            SelectItem(sel->GetParent());
        return;
    case Qt::Key_Right:
        if (sel && sel->IsGroup()) {
            if (!sel->IsExpanded())
                sel->Expand(true);
            else if (sel->GetSubItemsCount() > 0)
                SelectItem(sel->GetSubItem(0));
        }
        return;
    case Qt::Key_Plus:
    case Qt::Key_Minus:
        if (sel && sel->IsGroup()) {
            sel->Expand(event->key() == Qt::Key_Plus);
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (sel && sel->IsGroup())
            sel->Expand(!sel->IsExpanded());
        else if (sel)
            EditItem(sel);
        return;
    case Qt::Key_F2:
        if (sel)
            EditItem(sel);
        return;
    case Qt::Key_F4:
        if (sel && sel->GetOptionCount() > 0 && sel->IsEnabled())
            sel->OnClickButton(QPoint());
        return;
    case Qt::Key_Space:
        if (sel && !sel->IsGroup() && sel->IsEnabled() && sel->OnActivateByKey())
            return;
        break;
    default:
        break;
    }
    const QString text = event->text();
    if (sel && !sel->IsGroup() && !text.isEmpty() && text[0].isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        if (sel->StartEditWithText(text))
            return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CMFCPropertyGridCtrlEx::scrollContentsBy(int /*dx*/, int dy) {
    // Rows move by whole rows; the windows of an edit move with them.
    viewport()->scroll(0, dy * m_rowHeight);
}

bool CMFCPropertyGridCtrlEx::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        CMFCPropertyGridProperty* item = HitTest(help->pos());
        QString tip;
        if (item && !item->IsGroup() && ValueRect(item).contains(help->pos()) &&
            item->IsValueTruncated() && !item->IsInPlaceEditing())
            tip = item->FormatProperty();
        else if (item && NameRect(item).contains(help->pos()) && item->IsNameTruncated())
            tip = item->GetName();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

bool CMFCPropertyGridCtrlEx::eventFilter(QObject* watched, QEvent* event) {
    // Keys and wheel of the in-place windows.
    auto* window = qobject_cast<QWidget*>(watched);
    if (!window || !m_sel || m_sel->InPlaceEditor() == nullptr)
        return QAbstractScrollArea::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool combo = qobject_cast<QComboBox*>(m_sel->InPlaceEditor()) != nullptr;
        switch (key->key()) {
        case Qt::Key_Escape:
            EndEditItem(false);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            EndEditItem(true);
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
            // Alt+Down opens the list of a drop-down, as F4 does.
            if (combo && key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier)) {
                static_cast<QComboBox*>(m_sel->InPlaceEditor())->showPopup();
                return true;
            }
            // Arrows leave the edit for the row above or below. A drop-down list does not
            // change its entry by arrows: the entry is chosen from the open list only.
            if (!combo && qobject_cast<QLineEdit*>(watched) == nullptr)
                break; // the slider takes its arrows
            EndEditItem(true);
            MoveSelection(key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        case Qt::Key_F4:
            if (combo) {
                static_cast<QComboBox*>(m_sel->InPlaceEditor())->showPopup();
                return true;
            }
            break;
        default:
            break;
        }
    } else if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched)) {
        // The wheel scrolls the list of rows, never the entry of a drop-down list.
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void CMFCPropertyGridCtrlEx::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateRowHeight();
        viewport()->update();
        m_header->update();
        RedrawDescription();
    }
}

void CMFCPropertyGridCtrlEx::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void CMFCPropertyGridCtrlEx::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

bool CMFCPropertyGridCtrlEx::OwnsWidget(const QWidget* widget) const {
    // Across window borders too: the open list of a drop-down is a window of its own.
    for (const QObject* o = widget; o; o = o->parent())
        if (o == this)
            return true;
    return false;
}

void CMFCPropertyGridCtrlEx::OnFocusChanged(QWidget* /*old*/, QWidget* now) {
    // The focus went to another control: the edit ends and its text is taken.
    if (!now || m_endingEdit || !m_sel || !m_sel->IsInPlaceEditing() || OwnsWidget(now))
        return;
    EndEditItem(true);
}

void CMFCPropertyGridCtrlEx::OnComboActivated(int index) {
    CMFCPropertyGridProperty* item = m_sel;
    // Only the list of the edit in progress chooses.
    if (!item || !item->IsInPlaceEditing() || sender() != item->InPlaceList())
        return;
    item->OnSelectCombo(index);
    if (m_sel == item)
        EndEditItem(true);
}
