// The items of the property view: one class per kind of camera property, each handing the
// value the user committed to the view through its OnValueCommitted hook.
//
//   CSliderValueProp   Integer    edit of 11 characters "-0123456789" and a slider
//   CCheckBoxProp      Bool       check box; a click toggles and commits at once
//   CButtonProp        Execution  "(Command)" and an "Execute" button
//   CSelectProp        Selection  drop-down list; choosing an entry commits, also the same one
//   CDefaultExProp     Float, String  edit ("-.0123456789" for Float)
//   CMFCPropertyGridPropertyEx     the base; alone it shows "unknown" properties
#pragma once

#include "app/PropValue.h"
#include "app/PropertyBinding.h"
#include "ui/PropertyGridCtrlEx.h"
#include "ui/PropertyViewLogic.h"

#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <functional>

class CSliderValueProp;

// Base of every item of the property view.
class CMFCPropertyGridPropertyEx : public CMFCPropertyGridProperty {
public:
    // The user committed a value. `click` is the point of a button click, else nullptr.
    using ValueCommittedHook = std::function<void(CMFCPropertyGridPropertyEx& item,
                                                  const PropValue& value, const QPoint* click)>;
    // Editing starts: the range of the item may be brought up to date.
    using RangeRequestHook = std::function<void(CMFCPropertyGridPropertyEx& item)>;
    // The description is about to be drawn: the item's description may be brought up to date.
    using DescriptionRequestHook = std::function<void(CMFCPropertyGridPropertyEx& item)>;

    CMFCPropertyGridPropertyEx(const QString& name, PropValue value,
                               const QString& description = QString(),
                               const QString& validChars = QString());

    ValueCommittedHook OnValueCommitted;
    RangeRequestHook OnRangeRequest;
    DescriptionRequestHook OnDescriptionRequest;

    // For items holding an integer: the 64-bit range becomes (min, max), the 32-bit range the
    // same bounds held inside the 32-bit range, and `enable` sets or clears the spin flag. Items
    // of other kinds are left unchanged.
    void SetRange64(bool enable, int64_t min, int64_t max);
    // min64 and max64 become 0.
    void ResetRange64();
    int64_t GetMin64() const { return m_min64; }
    int64_t GetMax64() const { return m_max64; }
    // Set when an in-place edit starts, cleared when the commit hook has run.
    bool IsCommitPending() const { return m_commitPending; }

    void OnDrawDescription(QPainter& painter, const QRect& rect) override;

protected:
    // Runs OnValueCommitted once for the pending commit (clears the flag first).
    void CommitValue(const QPoint* click = nullptr);
    // Update of the value from the edit, committing once per edit.
    bool UpdateFromEdit();

    int64_t m_min64 = 0;
    int64_t m_max64 = 0;
    bool m_commitPending = false;
};

// Float and String items.
class CDefaultExProp : public CMFCPropertyGridPropertyEx {
public:
    using CMFCPropertyGridPropertyEx::CMFCPropertyGridPropertyEx;
    bool OnEdit(const QPoint* click) override;
    bool OnUpdateValue() override;
};

// The edit of an Integer item. Typing is limited to CSliderValueProp::kMaxChars characters of
// propview::kIntegerChars; a longer text put in by the program (a value that opens the edit)
// stays whole and may still be shortened. When it loses the focus to the slider, the slider
// moves to the typed value.
class CPropSliderMaskedEdit : public QLineEdit {
    Q_OBJECT
public:
    CPropSliderMaskedEdit(CSliderValueProp& item, QWidget* parent);

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    CSliderValueProp& m_item;
};

// The slider of an Integer item. Held keys and mouse buttons move it at the pace of
// propview::MoveSlider; the release of a key or button ends a run of repeats.
class CPropSliderCtrl : public QSlider {
    Q_OBJECT
public:
    CPropSliderCtrl(CSliderValueProp& item, QWidget* parent);

    // The remembered movement shared by every slider of the program (only one exists at a
    // time).
    static propview::SliderRepeat& Repeat();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void OnAction(int action);

    CSliderValueProp& m_item;
};

// Integer items: an edit followed by a slider over the item's range.
class CSliderValueProp : public CMFCPropertyGridPropertyEx {
public:
    static constexpr int kMaxChars = 11;

    CSliderValueProp(const QString& name, int64_t value, const QString& description = QString());

    bool HasButton() const override { return false; }
    bool OnEdit(const QPoint* click) override;
    bool OnUpdateValue() override;
    bool OnEndEdit() override;
    void OnDestroyWindow() override;
    QRect GetEditRect(const QRect& valueRect) const override;
    void RepositionWindows() override;
    // Makes the slider for the current edit (when the spin flag is set).
    void CreateSlider();

    CPropSliderCtrl* GetSlider() const { return m_slider; }
    QLineEdit* GetEdit() const;
    // The slider's rectangle for a value cell.
    QRect GetSliderRect(const QRect& valueRect) const;

    // From the slider: it moved to `position`.
    void OnSliderMoved(int position);
    // From the edit: it lost the focus while editing; the slider follows the typed value.
    void OnEditFocusLost();

protected:
    QLineEdit* CreateInPlaceEdit(const QRect& rect, bool& defaultFormat) override;

private:
    int SliderPositionOfValue() const;

    QPointer<CPropSliderCtrl> m_slider;
};

// Bool items: a check box, no edit.
class CCheckBoxProp : public CMFCPropertyGridPropertyEx {
public:
    CCheckBoxProp(const QString& name, bool checked, const QString& description = QString());

    bool HasButton() const override { return false; }
    bool HasTextEntry() const override { return false; }
    bool OnSetCursor() const override { return false; }
    void OnDrawValue(QPainter& painter, const QRect& rect) override;
    bool OnClickValue(Qt::MouseButton button, const QPoint& point) override;
    bool OnActivateByKey() override;
    bool OnEdit(const QPoint*) override { return false; }
    // The square of the box inside a value cell.
    static QRect BoxRect(const QRect& valueRect);

private:
    void Toggle();
};

// Execution items: "(Command)" and an "Execute" button that commits.
class CButtonProp : public CMFCPropertyGridPropertyEx {
public:
    explicit CButtonProp(const QString& name, const QString& description = QString());

    bool HasButton() const override { return true; }
    bool HasTextEntry() const override { return false; }
    bool OnSetCursor() const override { return false; }
    QRect GetButtonRect(const QRect& valueRect) const override;
    void OnDrawButton(QPainter& painter, const QRect& rect) override;
    void OnClickButton(const QPoint& point) override;
    bool OnActivateByKey() override;
    bool OnEdit(const QPoint*) override { return false; }
};

// Selection items: the value is chosen from the option list.
class CSelectProp : public CMFCPropertyGridPropertyEx {
public:
    CSelectProp(const QString& name, const QString& value, const QString& description = QString());

    // The value is only ever chosen from the list.
    bool HasTextEntry() const override { return false; }
    bool OnSetCursor() const override { return false; }
    void OnSelectCombo(int index) override;
};
