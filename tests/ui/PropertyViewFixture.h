// Base of the property-view tests: a property manager reading definitions through the shipped
// schema, a property pane on screen (offscreen platform) showing them, and a recording main
// window that keeps every message the pane posts.
#pragma once

#include "QtAppTest.h"
#include "app/Application.h"
#include "base/MessageTable.h"
#include "base/Messages.h"
#include "base/UiTarget.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "support/TempDir.h"
#include "ui/CamPropertyForm.h"
#include "ui/DialogTemplate.h"
#include "ui/PropertyGridCtrlEx.h"
#include "ui/PropertyItems.h"

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct UiMessage {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    bool posted;
};

class RecordingTarget : public IUiTarget {
public:
    intptr_t SendUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        messages.push_back({msg, wParam, lParam, false});
        return 0;
    }
    void PostUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        messages.push_back({msg, wParam, lParam, true});
    }
    std::vector<UiMessage> messages;
};

inline std::string TestSourcePath(const std::string& relative) {
    return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

class PropertyViewTest : public QtAppTest {
protected:
    PropertyViewTest() : m_savedEnglish(UiLanguageIndex() == 1) {
        std::filesystem::copy_file(TestSourcePath("CamDefine/OrvaCamSchema_v1_0.xsd"),
                                   dir.file("OrvaCamSchema_v1_0.xsd"));
        mgr.SetSchemaPathFormat(platform::Utf8ToUtf16(dir.str() + "/OrvaCamSchema_v%d_%d.xsd"));
        app.SetMainFrame(&target);
    }
    ~PropertyViewTest() override {
        form.reset();
        SetUiLanguage(m_savedEnglish ? 1 : 0, m_savedEnglish ? 1033 : 1041);
    }

    int LoadSample(const std::string& file) {
        return mgr.Load(platform::Utf8ToUtf16(TestSourcePath("CamDefine/" + file)));
    }
    // Loads a definition made of `body` inside the root element.
    int LoadBody(const std::string& body) {
        const std::string path = dir.file("def.xml");
        WriteFileBytes(path,
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CameraPropertyDefine>\n" +
                           body + "\n</CameraPropertyDefine>\n");
        return mgr.Load(platform::Utf8ToUtf16(path));
    }

    // A pane on screen, built from the loaded definition.
    CCamPropertyForm& ShowForm() {
        form = std::make_unique<CCamPropertyForm>(&app);
        form->SetPropertyManager(&mgr);
        form->SetReadyCheck([this] { return ready; });
        form->resize(420, 900);
        form->show();
        QApplication::setActiveWindow(form.get());
        form->InitialUpdate();
        form->Build();
        QApplication::processEvents();
        return *form;
    }

    CMFCPropertyGridCtrlEx& Grid() { return *form->Grid(); }

    // The item of a property name.
    template <class T = CMFCPropertyGridPropertyEx>
    T* Item(std::u16string_view name) {
        const PropertyItemLink* link = form->FindLink(name);
        return link ? dynamic_cast<T*>(link->item) : nullptr;
    }
    template <class T>
    T* Record(std::u16string_view name) {
        return PropertyAs<T>(mgr.FindProperty(name));
    }

    // Starts editing an item and returns its edit.
    QLineEdit* Edit(CMFCPropertyGridProperty* item) {
        Grid().EnsureVisible(item);
        if (!Grid().EditItem(item))
            return nullptr;
        return qobject_cast<QLineEdit*>(item->InPlaceEditor());
    }
    // Replaces the text of an edit by typing and accepts it with Enter.
    void TypeAndEnter(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    void ClickValue(CMFCPropertyGridProperty* item) {
        Grid().EnsureVisible(item);
        QTest::mouseClick(Grid().viewport(), Qt::LeftButton, {}, Grid().ValueRect(item).center());
    }

    // The property jobs posted so far.
    std::vector<const clCamProperty*> Jobs() const {
        std::vector<const clCamProperty*> jobs;
        for (const UiMessage& m : target.messages)
            if (m.msg == UM_RUN_PROPERTY_JOB && m.posted)
                jobs.push_back(mgr.RecordOf(m.wParam, static_cast<uint32_t>(m.lParam)));
        return jobs;
    }

    TempDir dir;
    clCamPropertyMgr mgr;
    clApplication app;
    RecordingTarget target;
    bool ready = true;
    std::unique_ptr<CCamPropertyForm> form;

private:
    bool m_savedEnglish;
};
