// CCamPropertyForm: the property pane (the right-hand column of the main window's splitter). It
// shows the loaded camera definition as a property grid: the groups of the definition's index as
// group rows, each property as an item whose editor fits its type. A committed value is stored
// in the property manager and the main window is asked, with UM_RUN_PROPERTY_JOB, to send the
// property's commands to the camera.
//
// Items point to property records: the view must be cleared before the manager loads or clears
// a definition.
#pragma once

#include "app/PropValue.h"
#include "app/PropertyBinding.h"
#include "camdef/CamProperty.h"

#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class clApplication;
class clCamPropertyMgr;
class CCamPropertyForm;
class CMFCPropertyGridCtrlEx;
class CMFCPropertyGridProperty;
class CMFCPropertyGridPropertyEx;
class QPushButton;
class QLabel;

// One per property item; the item's callbacks reach it.
struct PropertyItemLink {
    CMFCPropertyGridPropertyEx* item = nullptr; // owned by the grid
    clCamProperty* property = nullptr;          // none when the tree names no known property
    int32_t type = -1;                          // CamPropertyType, -1 without a record
    std::u16string name;                        // the tree node's name
    std::unique_ptr<propview::clPropertyBinding> binding;
};

class CCamPropertyForm : public QWidget {
    Q_OBJECT
public:
    // Control ids of the form's template.
    enum : int {
        IDC_GRID_PLACE = 1080,
        IDC_EXPAND_ALL = 1081,
        IDC_COLLAPSE_ALL = 1082,
    };

    // Whether the engine takes a job now (not busy, no transaction running).
    using ReadyCheck = std::function<bool()>;

    // `app` is the application object whose main window receives the jobs; without one (or
    // without a main window) committed values are stored and nothing is posted.
    explicit CCamPropertyForm(clApplication* app = nullptr, QWidget* parent = nullptr);
    ~CCamPropertyForm() override;

    // The manager whose definition the view shows.
    void SetPropertyManager(clCamPropertyMgr* mgr) { m_mgr = mgr; }
    clCamPropertyMgr* PropertyManager() const { return m_mgr; }
    // How the view learns whether the engine is ready. Until one is set the engine counts as
    // ready.
    void SetReadyCheck(ReadyCheck ready) { m_ready = std::move(ready); }

    // Once, after creation: creates the grid at the placeholder, then refreshes with flags 0.
    void InitialUpdate();
    // Builds the grid from the manager's tree, then reloads all values.
    void Build();
    // Reads every item's value from the manager again.
    void ReloadAllValues();
    // Enable states (and with REFRESH_RELOAD_VALUES the values first).
    void Refresh(uint32_t flags);
    // Empties the grid and frees every link.
    void Clear();
    void ExpandAll();
    void CollapseAll();

    bool IsInitialised() const { return m_initialised != 0; }
    bool IsPopulated() const { return m_populated != 0; }
    CMFCPropertyGridCtrlEx* Grid() const { return m_grid; }
    const std::deque<PropertyItemLink>& Links() const { return m_links; }
    // The first link of a property name, nullptr when there is none.
    const PropertyItemLink* FindLink(std::u16string_view name) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    bool EngineReady() const { return !m_ready || m_ready(); }
    CMFCPropertyGridPropertyEx* CreateItem(const clCamTreeNode& node);
    void ReloadItem(PropertyItemLink& link, bool engineReady);
    void Commit(const PropertyItemLink& link, CMFCPropertyGridPropertyEx& item,
                const PropValue& value);
    void UpdateRange(const PropertyItemLink& link, CMFCPropertyGridPropertyEx& item) const;
    void UpdateDescription(const PropertyItemLink& link, CMFCPropertyGridPropertyEx& item) const;
    void RunJob(clCamProperty* record);
    void UpdateButtons();
    // The grid fills the form below the buttons, keeping its margins.
    void ApplyGridLayout();

    clApplication* m_app = nullptr;
    clCamPropertyMgr* m_mgr = nullptr;
    ReadyCheck m_ready;
    QPushButton* m_expandAll = nullptr;
    QPushButton* m_collapseAll = nullptr;
    QLabel* m_place = nullptr;
    CMFCPropertyGridCtrlEx* m_grid = nullptr;
    std::deque<PropertyItemLink> m_links;
    int32_t m_initialised = 0;
    int32_t m_populated = 0;
    QRect m_gridRect;
    int32_t m_marginLeft = 0;
    int32_t m_marginTop = 0;
    int32_t m_marginRight = 0;
    int32_t m_marginBottom = 0;
};
