#include "ui/CamPropertyForm.h"

#include "app/Application.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommandCheck.h"
#include "ui/DialogTemplate.h"
#include "ui/MessageBox.h"
#include "ui/PropertyGridCtrlEx.h"
#include "ui/PropertyItems.h"
#include "ui/PropertyViewLogic.h"

#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <vector>

namespace {

QString ToQ(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Width of a window edge, the space the grid leaves at the right of the form.
constexpr int kEdgeWidth = 2;

constexpr std::u16string_view kTreeRoot = u"TreeRoot";

} // namespace

CCamPropertyForm::CCamPropertyForm(clApplication* app, QWidget* parent)
    : QWidget(parent), m_app(app) {
    const DialogTemplate t(this);
    m_expandAll = t.place(new QPushButton(this), IDC_EXPAND_ALL, {4, 1, 80, 14});
    m_collapseAll = t.place(new QPushButton(this), IDC_COLLAPSE_ALL, {88, 1, 80, 14});
    m_place = t.place(new QLabel(this), IDC_GRID_PLACE, {4, 20, 246, 280});
    m_place->hide();
    resize(t.toPixels({0, 0, 254, 305}).size());
    // The splitter may make the pane narrow, but never so narrow that a button is cut.
    setMinimumSize(m_collapseAll->geometry().right() + 1 + kEdgeWidth, 0);
    m_expandAll->setAutoDefault(false);
    m_collapseAll->setAutoDefault(false);
    m_expandAll->setText(QString::fromUtf16(Msg(MSG_EXPAND_ALL)));
    m_collapseAll->setText(QString::fromUtf16(Msg(MSG_COLLAPSE_ALL)));
    connect(m_expandAll, &QPushButton::clicked, this, &CCamPropertyForm::ExpandAll);
    connect(m_collapseAll, &QPushButton::clicked, this, &CCamPropertyForm::CollapseAll);
    UpdateButtons();
}

CCamPropertyForm::~CCamPropertyForm() {
    Clear();
}

void CCamPropertyForm::InitialUpdate() {
    if (m_initialised)
        return;
    // The placeholder's rectangle, reaching to the right edge of the form.
    QRect place = m_place->geometry();
    place.setWidth(std::max(0, width() - kEdgeWidth - place.left()));

    m_grid = new CMFCPropertyGridCtrlEx(this);
    m_grid->setObjectName(ControlName(IDC_GRID_PLACE) + QStringLiteral("grid"));
    m_grid->setGeometry(place);

    // The form's font, two pixels larger.
    QFont gridFont = font();
    gridFont.setPixelSize(QFontInfo(font()).pixelSize() + 2);
    m_grid->setFont(gridFont);
    m_grid->SetHeaderTexts(QStringLiteral("Property"), QStringLiteral("Value"));
    m_grid->EnableHeaderCtrl(true);
    m_grid->EnableDescriptionArea(true);
    m_grid->SetDescriptionRows(4);
    m_grid->show();

    m_gridRect = m_grid->geometry();
    m_marginLeft = m_gridRect.left();
    m_marginTop = m_gridRect.top();
    m_marginRight = width() - (m_gridRect.left() + m_gridRect.width());
    m_marginBottom = height() - (m_gridRect.top() + m_gridRect.height());

    m_expandAll->setText(QString::fromUtf16(Msg(MSG_EXPAND_ALL)));
    m_collapseAll->setText(QString::fromUtf16(Msg(MSG_COLLAPSE_ALL)));
    FitTexts(this);
    m_initialised = 1;
    // The form may already have its final size (it is laid out before the first update).
    ApplyGridLayout();
    Refresh(0);
}

void CCamPropertyForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ApplyGridLayout();
}

void CCamPropertyForm::ApplyGridLayout() {
    if (!m_initialised || m_gridRect.isEmpty() || !m_grid)
        return;
    const int w = std::max(0, width() - m_marginRight - m_marginLeft);
    const int h = std::max(256, height() - m_marginTop - 4);
    m_grid->setGeometry(m_gridRect.left(), m_gridRect.top(), w, h);
    m_grid->update();
}

void CCamPropertyForm::UpdateButtons() {
    m_expandAll->setEnabled(m_populated != 0);
    m_collapseAll->setEnabled(m_populated != 0);
}

// --- Build -----------------------------------------------------------------------------------

CMFCPropertyGridPropertyEx* CCamPropertyForm::CreateItem(const clCamTreeNode& node) {
    clCamProperty* record = m_mgr->FindProperty(node.name);
    const QString label = ToQ(propview::ItemLabel(record, UiLanguageCode()));

    PropertyItemLink& link = m_links.emplace_back();
    link.property = record;
    link.type = record ? static_cast<int32_t>(record->type) : -1;
    link.name = node.name;
    link.binding = propview::BindProperty(record);
    const propview::clPropertyBinding& binding = *link.binding;

    CMFCPropertyGridPropertyEx* item = nullptr;
    switch (binding.Editor()) {
    case propview::EditorKind::Slider:
        item = new CSliderValueProp(label, 0);
        item->OnRangeRequest = [this, &link](CMFCPropertyGridPropertyEx& i) {
            UpdateRange(link, i);
        };
        break;
    case propview::EditorKind::CheckBox:
        item = new CCheckBoxProp(label, false);
        break;
    case propview::EditorKind::Button:
        item = new CButtonProp(label);
        break;
    case propview::EditorKind::Text:
        item = new CDefaultExProp(label, binding.Value(*m_mgr), QString(),
                                  ToQ(std::u16string(binding.ValidChars())));
        break;
    case propview::EditorKind::List: {
        const std::vector<std::u16string> entries = binding.Entries();
        auto* select = new CSelectProp(label, entries.empty() ? QString() : ToQ(entries.front()));
        for (const std::u16string& text : entries)
            select->AddOption(ToQ(text), true);
        item = select;
        break;
    }
    case propview::EditorKind::Unknown:
        item = new CMFCPropertyGridPropertyEx(label, binding.Value(*m_mgr));
        item->Enable(false);
        break;
    }
    if (record)
        item->OnValueCommitted = [this, &link](CMFCPropertyGridPropertyEx& i, const PropValue& v,
                                               const QPoint*) { Commit(link, i, v); };
    item->OnDescriptionRequest = [this, &link](CMFCPropertyGridPropertyEx& i) {
        UpdateDescription(link, i);
    };
    link.item = item;
    return item;
}

void CCamPropertyForm::Build() {
    if (!m_grid || !m_mgr || !m_mgr->TreeRoot())
        return;
    const clCamTreeNode* root = m_mgr->TreeRoot();

    // Adds a row under a group row, or at the top level when there is none.
    auto add = [this](CMFCPropertyGridProperty* group, CMFCPropertyGridProperty* row) {
        std::unique_ptr<CMFCPropertyGridProperty> owned(row);
        return group ? group->AddSubItem(std::move(owned)) : m_grid->AddProperty(std::move(owned));
    };

    // Depth-first over the tree with a stack of (next child, group row it goes to), so a deeply
    // nested index never becomes a deep recursion. A group's row is added before its children;
    // the order of the rows is the order of the tree either way.
    struct Frame {
        const clCamTreeNode* next;
        CMFCPropertyGridProperty* group;
    };
    std::vector<Frame> stack;
    if (!root->isGroup) {
        add(nullptr, CreateItem(*root));
    } else if (root->name == kTreeRoot) {
        stack.push_back({root->firstChild, nullptr});
    } else {
        CMFCPropertyGridProperty* group =
            add(nullptr, new CMFCPropertyGridProperty(ToQ(propview::GroupTitle(*root))));
        stack.push_back({root->firstChild, group});
    }
    while (!stack.empty()) {
        const clCamTreeNode* node = stack.back().next;
        if (!node) {
            stack.pop_back();
            continue;
        }
        CMFCPropertyGridProperty* parent = stack.back().group;
        stack.back().next = node->nextSibling;
        if (!node->isGroup) {
            add(parent, CreateItem(*node));
        } else if (node->name == kTreeRoot) {
            stack.push_back({node->firstChild, nullptr});
        } else {
            CMFCPropertyGridProperty* group =
                add(parent, new CMFCPropertyGridProperty(ToQ(propview::GroupTitle(*node))));
            stack.push_back({node->firstChild, group});
        }
    }
    m_populated = 1;
    UpdateButtons();
    ReloadAllValues();
}

// --- Values and enable states ----------------------------------------------------------------

void CCamPropertyForm::ReloadItem(PropertyItemLink& link, bool engineReady) {
    CMFCPropertyGridPropertyEx* item = link.item;
    clCamProperty* record = link.property;
    if (!item)
        return;
    // An Execution has no value; an unknown property keeps "unknown".
    if (const PropValue value = link.binding->Value(*m_mgr);
        record && !std::holds_alternative<std::monostate>(value))
        item->SetValue(value);
    if (int64_t min = 0, max = 0;
        propview::IsWritable(record) && link.binding->Range(*m_mgr, min, max))
        item->SetRange64(true, min, max);
    // Writable items take edits only while the engine is ready, as at every refresh: an item
    // enabled between a reload and the job's own refresh would let the user change a value the
    // worker thread is sending.
    item->Enable(propview::IsItemEnabled(engineReady, link.type, record));
}

void CCamPropertyForm::ReloadAllValues() {
    if (!m_populated || !m_grid || !m_mgr)
        return;
    const bool ready = EngineReady();
    QWidget* viewport = m_grid->viewport();
    viewport->setUpdatesEnabled(false);
    for (PropertyItemLink& link : m_links)
        ReloadItem(link, ready);
    viewport->setUpdatesEnabled(true);
    viewport->update();
    m_grid->RedrawDescription();
}

void CCamPropertyForm::Refresh(uint32_t flags) {
    UpdateButtons();
    if (!m_populated || !m_grid || !m_mgr)
        return;
    const bool ready = EngineReady();
    QWidget* viewport = m_grid->viewport();
    viewport->setUpdatesEnabled(false);
    if (flags & REFRESH_RELOAD_VALUES)
        for (PropertyItemLink& link : m_links)
            ReloadItem(link, ready);
    for (PropertyItemLink& link : m_links)
        if (link.item)
            link.item->Enable(propview::IsItemEnabled(ready, link.type, link.property));
    viewport->setUpdatesEnabled(true);
    viewport->update();
    m_grid->RedrawDescription();
}

void CCamPropertyForm::Clear() {
    if (m_grid)
        m_grid->RemoveAll();
    m_links.clear();
    m_populated = 0;
    UpdateButtons();
}

void CCamPropertyForm::ExpandAll() {
    if (m_grid)
        m_grid->ExpandAll(true);
}

void CCamPropertyForm::CollapseAll() {
    if (m_grid)
        m_grid->ExpandAll(false);
}

const PropertyItemLink* CCamPropertyForm::FindLink(std::u16string_view name) const {
    for (const PropertyItemLink& link : m_links)
        if (link.name == name)
            return &link;
    return nullptr;
}

// --- Item callbacks --------------------------------------------------------------------------

void CCamPropertyForm::UpdateRange(const PropertyItemLink& link,
                                   CMFCPropertyGridPropertyEx& item) const {
    if (int64_t min = 0, max = 0; m_mgr && link.binding->Range(*m_mgr, min, max))
        item.SetRange64(item.HasSpin(), min, max);
}

void CCamPropertyForm::UpdateDescription(const PropertyItemLink& link,
                                         CMFCPropertyGridPropertyEx& item) const {
    if (!m_mgr)
        return;
    item.SetDescription(ToQ(propview::BuildDescription(
        *m_mgr, link.property, link.binding->Editor() == propview::EditorKind::Slider,
        UiLanguageCode())));
}

void CCamPropertyForm::Commit(const PropertyItemLink& link, CMFCPropertyGridPropertyEx& item,
                              const PropValue& value) {
    if (!m_mgr || !link.property)
        return;
    const propview::EditResult result = link.binding->Commit(*m_mgr, value);
    if (result.showChanged)
        item.SetValue(result.shown);
    if (!result.refusal.empty())
        RunMessageBox(this, QString(), ToQ(result.refusal), MB_OK | MB_ICONWARNING);
    if (result.run)
        RunJob(link.property);
}

void CCamPropertyForm::RunJob(clCamProperty* record) {
    if (!m_app || !m_app->MainFrame() || !m_mgr)
        return;
    // Named by load generation and index: the window recognises a record of an earlier
    // definition without touching it.
    const clCamPropertyMgr::RecordName name = m_mgr->NameOf(record);
    if (name.generation != 0)
        m_app->MainFrame()->PostUiMessage(UM_RUN_PROPERTY_JOB, name.generation,
                                          static_cast<intptr_t>(name.index));
}
