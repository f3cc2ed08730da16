// The Qt side of the text-file commands: what the dialogs and message boxes are asked and
// what their answers become.
#include "ui/TextFilesUi.h"

#include "QtAppTest.h"
#include "base/Messages.h"
#include "support/TempDir.h"
#include "ui/SimpleSelectDlg.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace {

class TextFilesUi : public QtAppTest {
protected:
    // Runs answer on the modal widget of type T as soon as it is shown.
    template <class T>
    void AnswerModal(std::function<void(T*)> answer) {
        auto* timer = new QTimer(&window);
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, answer] {
            if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
                timer->stop();
                answer(w);
            }
        });
        timer->start();
    }

    QWidget window;
    CTextFilesUi ui{&window};
};

TEST_F(TextFilesUi, QuestionBoxWithNoAsDefault) {
    QString text;
    bool noIsDefault = false;
    AnswerModal<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        noIsDefault =
            static_cast<QAbstractButton*>(box->defaultButton()) == box->button(QMessageBox::No);
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(ui.ShowMessageBox(u"Open it?", u"", MB_YESNO | MB_ICONQUESTION | 0x100), IDYES);
    EXPECT_EQ(text, QStringLiteral("Open it?"));
    EXPECT_TRUE(noIsDefault);
}

// A box closed without a button (by the window system, or rejected by code) answers with one of
// its own buttons where it has no Cancel: "open the last definition?" closed means No.
TEST_F(TextFilesUi, BoxClosedWithoutChoosingAnswersWithItsOwnButton) {
    const struct {
        uint32_t style;
        int32_t answer;
    } cases[] = {{MB_OK, IDOK},
                 {MB_YESNO | MB_ICONQUESTION | 0x100, IDNO},
                 {MB_OKCANCEL, IDCANCEL},
                 {MB_YESNOCANCEL, IDCANCEL}};
    for (const auto& c : cases)
        for (const bool reject : {false, true}) {
            AnswerModal<QMessageBox>([reject](QMessageBox* box) {
                if (reject)
                    box->reject();
                else
                    box->close();
            });
            EXPECT_EQ(ui.ShowMessageBox(u"?", u"", c.style), c.answer)
                << "style " << c.style << (reject ? ", rejected" : ", closed");
        }
}

TEST_F(TextFilesUi, ListChooserGivesTheIndex) {
    QString prompt;
    AnswerModal<CSimpleSelectDlg>([&](CSimpleSelectDlg* dialog) {
        auto* list = dialog->findChild<QListWidget*>();
        list->setCurrentRow(1);
        dialog->accept();
    });
    size_t chosen = 99;
    EXPECT_TRUE(ui.ChooseFromList(u"Search result", u"Found 2 files",
                                  {u"XC-100.xml", u"XC-100_rev2.xml"}, chosen));
    EXPECT_EQ(chosen, 1u);
    AnswerModal<CSimpleSelectDlg>([](CSimpleSelectDlg* dialog) { dialog->reject(); });
    EXPECT_FALSE(ui.ChooseFromList(u"Search result", u"Found 2 files", {u"a", u"b"}, chosen));
}

TEST_F(TextFilesUi, FileDialogTakesTheRequest) {
    TempDir dir;
    const std::string file = dir.file("settings.txt");
    WriteFileBytes(file, "gai 1\r\n");
    FileDialogRequest request;
    request.open = true;
    request.filter = u"Text file(*.txt)|*.txt||";
    request.title = u"Text Load";
    request.initialFolder = QString::fromStdString(dir.str()).toStdU16String();
    request.options = filedialog::kHideReadOnly | filedialog::kFileMustExist;
    QStringList filters;
    QString folder;
    AnswerModal<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        folder = dialog->directory().absolutePath();
        dialog->selectFile(QString::fromStdString(file));
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog keeps its accept protected
    });
    std::u16string chosen;
    ASSERT_TRUE(ui.ShowFileDialog(request, chosen));
    EXPECT_EQ(QString::fromStdU16String(chosen), QString::fromStdString(file));
    EXPECT_EQ(filters, QStringList{QStringLiteral("Text file(*.txt) (*.txt)")});
    EXPECT_EQ(folder, QString::fromStdString(dir.str()));
    AnswerModal<QFileDialog>([](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    EXPECT_FALSE(ui.ShowFileDialog(request, chosen));
}

TEST_F(TextFilesUi, TitleAndViewCalls) {
    int emptied = 0;
    CTextFilesUi withView(&window, {[] { return true; }, [&] { ++emptied; }, {}});
    withView.SetMainWindowTitle(u"Quillon (64bit) - XC-100.xml");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quillon (64bit) - XC-100.xml"));
    EXPECT_TRUE(withView.PropertyViewExists());
    withView.EmptyPropertyView();
    withView.RebuildPropertyView(); // unset: nothing happens
    EXPECT_EQ(emptied, 1);
    EXPECT_FALSE(ui.PropertyViewExists());
}

} // namespace
