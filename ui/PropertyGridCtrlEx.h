// The property grid: a two-column list ("Property" / "Value") of items under expandable group
// rows, with a description area under the list and in-place editors.
//
// Rows are painted, not made of widgets: an item is a plain object, and only the item being
// edited has windows (an edit, a drop-down list, a slider), made when editing starts and
// destroyed when it ends. So a definition with thousands of properties costs one small object
// per row. The grid owns its items; an item added under a group belongs to the group.
#pragma once

#include "app/PropValue.h"

#include <QAbstractScrollArea>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class CMFCPropertyGridCtrlEx;
class QComboBox;
class QLineEdit;
class QPainter;

// One row of the grid: a group row or an item with a value. The grid calls the virtual
// operations; the item classes of the property view override them.
class CMFCPropertyGridProperty {
public:
    // A group row.
    explicit CMFCPropertyGridProperty(const QString& groupName);
    // An item with a value. `validChars` limits the characters its edit accepts (empty: all).
    CMFCPropertyGridProperty(const QString& name, PropValue value,
                             const QString& description = QString(),
                             const QString& validChars = QString());
    // Frees the item and everything under it, without recursion.
    virtual ~CMFCPropertyGridProperty();
    CMFCPropertyGridProperty(const CMFCPropertyGridProperty&) = delete;
    CMFCPropertyGridProperty& operator=(const CMFCPropertyGridProperty&) = delete;

    // --- Tree ------------------------------------------------------------------------------
    bool IsGroup() const { return m_isGroup; }
    // Appends an item under this group and returns it; nullptr (and the item freed) when this
    // is not a group.
    CMFCPropertyGridProperty* AddSubItem(std::unique_ptr<CMFCPropertyGridProperty> item);
    int GetSubItemsCount() const { return static_cast<int>(m_children.size()); }
    CMFCPropertyGridProperty* GetSubItem(int index) const;
    CMFCPropertyGridProperty* GetParent() const { return m_parent; }
    bool IsExpanded() const { return m_expanded; }
    void Expand(bool expand = true);
    // Only the flag, for the grid that lays out once after changing many groups.
    void SetExpandedFlag(bool expand) { m_expanded = expand; }
    // Nesting level of the row as last laid out (0 at the top level).
    int Depth() const { return m_depth; }
    // Index among the shown rows as last laid out, -1 when hidden.
    int LayoutRow() const { return m_row; }
    // The grid's layout records where the row went.
    void SetLayoutPlace(int depth, int row) {
        m_depth = depth;
        m_row = row;
    }
    // The grid that shows this row and everything under it (the grid sets it on its top rows).
    void AttachToGrid(CMFCPropertyGridCtrlEx* grid);

    // --- Data ------------------------------------------------------------------------------
    const QString& GetName() const { return m_name; }
    void SetName(const QString& name);
    const PropValue& GetValue() const { return m_value; }
    virtual void SetValue(const PropValue& value);
    // The value when the current (or last) edit started.
    const PropValue& GetOriginalValue() const { return m_originalValue; }
    void SetOriginalValue(const PropValue& value) { m_originalValue = value; }
    const QString& GetDescription() const { return m_description; }
    void SetDescription(const QString& description);
    const QString& GetValidChars() const { return m_validChars; }
    bool IsEnabled() const { return m_enabled; }
    virtual void Enable(bool enable = true);
    bool IsAllowEdit() const { return m_allowEdit; }
    void AllowEdit(bool allow = true) { m_allowEdit = allow; }

    // Option list (a drop-down list to choose the value from).
    // Adds `text`; with noDuplicates a text already in the list is not added again.
    bool AddOption(const QString& text, bool noDuplicates = true);
    void RemoveAllOptions() { m_options.clear(); }
    int GetOptionCount() const { return static_cast<int>(m_options.size()); }
    QString GetOption(int index) const;

    // The 32-bit range of integer items and the spin flag (an Integer item shows a slider
    // while it is edited when the flag is set).
    void EnableSpinControl(bool enable, int32_t min, int32_t max);
    bool HasSpin() const { return m_spin; }
    int32_t GetMin32() const { return m_min32; }
    int32_t GetMax32() const { return m_max32; }

    // --- State in the grid -----------------------------------------------------------------
    CMFCPropertyGridCtrlEx* GetGrid() const { return m_grid; }
    bool IsInPlaceEditing() const { return m_inPlaceEdit; }
    // The in-place edit or drop-down list while editing, else nullptr.
    QWidget* InPlaceEditor() const { return m_inPlaceEditor; }
    // The drop-down list while choosing, else nullptr.
    QComboBox* InPlaceList() const;
    bool IsSelected() const;
    // Whether the value text, or the name, was cut with an ellipsis when last drawn.
    bool IsValueTruncated() const { return m_valueTruncated; }
    bool IsNameTruncated() const { return m_nameTruncated; }
    // Redraws the row.
    void Redraw();

    // --- Behaviour -------------------------------------------------------------------------
    // Text of the value cell and of a new edit.
    virtual QString FormatProperty() const;
    // Reads the edit's text into the value. False when the text cannot become a value.
    virtual bool SetValueFromText(const QString& text);
    // Whether the value differs from the value at the start of the edit.
    virtual bool IsValueChanged() const;
    // Whether the value is typed into an edit.
    virtual bool HasTextEntry() const;

    virtual void OnDrawName(QPainter& painter, const QRect& rect);
    virtual void OnDrawValue(QPainter& painter, const QRect& rect);
    virtual void OnDrawDescription(QPainter& painter, const QRect& rect);

    virtual bool HasButton() const { return !m_options.isEmpty(); }
    // The button at the right of the value cell, in viewport coordinates.
    virtual QRect GetButtonRect(const QRect& valueRect) const;
    virtual void OnDrawButton(QPainter& painter, const QRect& rect);
    virtual void OnClickButton(const QPoint& point);
    // A click into the value cell. True when the item handled it (no edit is started then).
    virtual bool OnClickValue(Qt::MouseButton button, const QPoint& point);
    // Space on the selected row. True when the item acted on it.
    virtual bool OnActivateByKey() { return false; }

    // Starts the in-place edit (or list). `click` is the point that started it, if any.
    virtual bool OnEdit(const QPoint* click);
    // The grid accepts the edit (Enter, focus leaving the row): the text becomes the value.
    virtual bool OnUpdateValue();
    // The edit ends, accepted or not (see the grid's end-edit flag).
    virtual bool OnEndEdit();
    // Destroys the in-place windows.
    virtual void OnDestroyWindow();
    // An entry of the drop-down list was chosen (also the one already shown).
    virtual void OnSelectCombo(int index);
    // A character typed on the selected row: starts editing with that character. False when
    // the item takes no text.
    virtual bool StartEditWithText(const QString& text);
    // Whether the mouse over the value shows the text cursor.
    virtual bool OnSetCursor() const;
    // Where the in-place edit goes inside the value cell.
    virtual QRect GetEditRect(const QRect& valueRect) const;
    // Moves the in-place windows after the row moved.
    virtual void RepositionWindows();

protected:
    // Makes the in-place edit: a masked edit when there are valid characters, else a plain one.
    // `defaultFormat` tells the caller to fill it with FormatProperty().
    virtual QLineEdit* CreateInPlaceEdit(const QRect& rect, bool& defaultFormat);
    // Sets up a new in-place edit: no frame, only the valid characters (when there are any),
    // read-only unless the item is enabled and allows editing, placed at `rect`.
    void ConfigureInPlaceEdit(QLineEdit* edit, const QRect& rect) const;
    // Hands a new in-place window to the grid (event filter, font) and remembers it.
    void AdoptInPlaceWindow(QWidget* window);
    // The value cell of this row in viewport coordinates (empty when the row is not shown).
    QRect ValueRect() const;
    // Draws `text` in `rect` inset 3 pixels left and right, one line, vertically centred,
    // ending in an ellipsis when too long; returns whether it was cut.
    bool DrawCellText(QPainter& painter, const QRect& rect, const QString& text) const;

    PropValue m_value;
    PropValue m_originalValue;
    bool m_inPlaceEdit = false;
    QPointer<QWidget> m_inPlaceEditor;
    QPointer<QComboBox> m_combo;
    bool m_valueTruncated = false;
    bool m_nameTruncated = false;

private:
    QString m_name;
    QString m_description;
    QString m_validChars;
    QStringList m_options;
    bool m_isGroup = false;
    bool m_expanded = true;
    bool m_enabled = true;
    bool m_allowEdit = true;
    bool m_spin = false;
    int32_t m_min32 = 0;
    int32_t m_max32 = 0;
    int m_depth = 0;
    int m_row = -1; // index among the shown rows as last laid out, -1 when hidden
    CMFCPropertyGridProperty* m_parent = nullptr;
    CMFCPropertyGridCtrlEx* m_grid = nullptr;
    std::vector<std::unique_ptr<CMFCPropertyGridProperty>> m_children;
};

class CMFCPropertyGridCtrlEx : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CMFCPropertyGridCtrlEx(QWidget* parent = nullptr);
    ~CMFCPropertyGridCtrlEx() override;

    // --- Items -----------------------------------------------------------------------------
    // Appends a top-level row and returns it.
    CMFCPropertyGridProperty* AddProperty(std::unique_ptr<CMFCPropertyGridProperty> item);
    // Ends any edit without taking its text and frees every row.
    void RemoveAll();
    int GetPropertyCount() const { return static_cast<int>(m_items.size()); }
    CMFCPropertyGridProperty* GetProperty(int index) const;
    // Expands or collapses every group.
    void ExpandAll(bool expand = true);

    // --- Look ------------------------------------------------------------------------------
    void SetHeaderTexts(const QString& name, const QString& value);
    bool IsHeaderShown() const { return m_showHeader; }
    void EnableHeaderCtrl(bool show = true);
    // The description area under the list, `rows` text rows high (0 hides it).
    void EnableDescriptionArea(bool enable = true);
    void SetDescriptionRows(int rows);
    int GetDescriptionRows() const { return m_descriptionRows; }
    int RowHeight() const { return m_rowHeight; }
    int GetLeftColumnWidth() const;
    void SetLeftColumnWidth(int width);

    // --- Selection and editing -------------------------------------------------------------
    CMFCPropertyGridProperty* SelectedItem() const { return m_sel; }
    // Selects an item (ends the edit of the one selected before, taking its text).
    void SelectItem(CMFCPropertyGridProperty* item, bool redraw = true);
    // Starts editing an item (selecting it first).
    bool EditItem(CMFCPropertyGridProperty* item, const QPoint* click = nullptr);
    // Ends the edit of the selected item. `update` 1 takes the edit's text as the value, 0
    // cancels. Sets the end-edit flag to `update`.
    bool EndEditItem(bool update = true);
    // 1 when the last edit ended by accepting its text, 0 when it was cancelled. A new edit
    // starts with 1.
    int32_t GetEndEditFlag() const { return m_endEditFlag; }
    void EnsureVisible(CMFCPropertyGridProperty* item);

    // --- Geometry (viewport coordinates) ---------------------------------------------------
    // Row of the item; an empty rectangle when it is not shown (collapsed or scrolled away is
    // still a rectangle: only rows under a collapsed group have none).
    QRect RowRect(const CMFCPropertyGridProperty* item) const;
    QRect ValueRect(const CMFCPropertyGridProperty* item) const;
    QRect NameRect(const CMFCPropertyGridProperty* item) const;
    // The item at a point of the viewport, or nullptr.
    CMFCPropertyGridProperty* HitTest(const QPoint& point) const;
    // Rows not hidden under a collapsed group, in order.
    const std::vector<CMFCPropertyGridProperty*>& VisibleRows() const;
    QWidget* DescriptionArea() const { return m_descriptionArea; }
    QWidget* HeaderArea() const { return m_header; }

    // Called by items when their value changed through the user.
    void OnPropertyChanged(CMFCPropertyGridProperty* item);
    // Called by items when their rows or value changed, so the grid lays out and repaints.
    void OnItemsChanged();
    void RedrawItem(const CMFCPropertyGridProperty* item);
    void RedrawDescription();

    // Draws the description of the selected item (name in bold, then the description).
    void DrawDescription(QPainter& painter, const QRect& rect);
    // Draws the header.
    void DrawHeader(QPainter& painter, const QRect& rect);

    // Moves the selection from a row hidden under a collapsed group to that group.
    void SelectShownAncestor();
    // An entry of the selected item's drop-down list was chosen.
    void OnComboActivated(int index);

Q_SIGNALS:
    void propertyChanged(CMFCPropertyGridProperty* item);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void UpdateRowHeight();
    void LayoutAreas();
    void RebuildVisibleRows() const;
    void UpdateScrollBar();
    int RowIndex(const CMFCPropertyGridProperty* item) const;
    int FirstRow() const;
    QRect ExpandBoxRect(const CMFCPropertyGridProperty* item) const;
    bool OnDivider(int x) const;
    void MoveSelection(int rows);
    void SelectRow(int row);
    bool OwnsWidget(const QWidget* widget) const;
    void OnFocusChanged(QWidget* old, QWidget* now);

    std::vector<std::unique_ptr<CMFCPropertyGridProperty>> m_items;
    mutable std::vector<CMFCPropertyGridProperty*> m_visible;
    mutable bool m_visibleDirty = true;
    CMFCPropertyGridProperty* m_sel = nullptr;
    QWidget* m_header = nullptr;
    QWidget* m_descriptionArea = nullptr;
    QString m_headerName;
    QString m_headerValue;
    bool m_showHeader = true;
    bool m_showDescription = true;
    int m_descriptionRows = 3;
    int m_rowHeight = 18;
    int m_nameWidth = -1; // -1: half the width, until the divider is dragged
    bool m_draggingDivider = false;
    bool m_endingEdit = false;
    bool m_layoutPending = false;
    int32_t m_endEditFlag = 1;
    QMetaObject::Connection m_focusConnection;
};
