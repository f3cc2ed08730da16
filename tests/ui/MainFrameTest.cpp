// The main frame as the core's message target: direct calls on the user-interface thread,
// blocking calls from other threads, queued posts in order, and message boxes asked for by a
// worker thread.
#include "ui/MainFrame.h"

#include "app/Application.h"
#include "base/Messages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct QtApp {
    int argc = 1;
    char name[8] = "test_ui";
    char* argv[2] = {name, nullptr};
    QApplication app{argc, argv};
};

class RecordingFrame : public CMainFrame {
public:
    using CMainFrame::CMainFrame;
    std::vector<std::pair<uint32_t, bool>> handled; // message, ran on the UI thread

protected:
    intptr_t OnUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        handled.emplace_back(msg, QThread::currentThread() == thread());
        return static_cast<intptr_t>(msg + wParam) + lParam;
    }
};

} // namespace

TEST(MainFrame, RegistersItselfAndCarriesTheTitle) {
    QtApp qt;
    clApplication app;
    {
        CMainFrame frame(app);
        EXPECT_EQ(app.MainFrame(), &frame);
        EXPECT_EQ(frame.windowTitle(), QStringLiteral("Quillon (64bit)"));
    }
    EXPECT_EQ(app.MainFrame(), nullptr);
}

TEST(MainFrame, SendRunsAtOnceOnTheUiThreadAndPostWaitsForTheLoop) {
    QtApp qt;
    clApplication app;
    RecordingFrame frame(app);
    EXPECT_EQ(frame.SendUiMessage(UM_REFRESH_VIEWS, 4, 1), intptr_t(UM_REFRESH_VIEWS + 5));
    ASSERT_EQ(frame.handled.size(), 1u);
    frame.PostUiMessage(UM_STARTUP, 0, 0);
    EXPECT_EQ(frame.handled.size(), 1u) << "a post never runs inside the call";
    QCoreApplication::processEvents();
    ASSERT_EQ(frame.handled.size(), 2u);
    EXPECT_EQ(frame.handled[1], std::make_pair(uint32_t(UM_STARTUP), true));
}

TEST(MainFrame, MessagesFromAWorkerRunOnTheUiThreadInOrder) {
    QtApp qt;
    clApplication app;
    RecordingFrame frame(app);
    intptr_t sendResult = 0;
    std::thread worker([&] {
        frame.PostUiMessage(UM_CONSOLE_FLUSH, 0, 0);
        sendResult = frame.SendUiMessage(UM_SHOW_RESULT, 1, 2);
        // The send has returned, so its handler has finished.
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    qt.app.exec();
    worker.join();
    EXPECT_EQ(sendResult, intptr_t(UM_SHOW_RESULT + 3));
    ASSERT_EQ(frame.handled.size(), 2u);
    EXPECT_EQ(frame.handled[0], std::make_pair(uint32_t(UM_CONSOLE_FLUSH), true));
    EXPECT_EQ(frame.handled[1], std::make_pair(uint32_t(UM_SHOW_RESULT), true));
}

TEST(MainFrame, MessageBoxRequestedByAWorkerIsAnsweredThroughTheApplication) {
    QtApp qt;
    clApplication app;
    CMainFrame frame(app);
    QString text, title;
    bool yesAndNoOnly = false;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        title = box->windowTitle();
        yesAndNoOnly = box->standardButtons() == (QMessageBox::Yes | QMessageBox::No);
        box->button(QMessageBox::Yes)->click();
    });
    answer.start();
    int32_t result = 0;
    std::thread worker([&] {
        result =
            app.RequestMessageBox(u"Does it disconnect and exit?", u"", MB_YESNO | MB_ICONQUESTION);
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    qt.app.exec();
    worker.join();
    EXPECT_EQ(result, IDYES);
    EXPECT_EQ(app.MessageBoxResult(), IDYES);
    EXPECT_EQ(text, QStringLiteral("Does it disconnect and exit?"));
    EXPECT_EQ(title, QStringLiteral("Quillon")) << "an empty caption gives the program's own";
    EXPECT_TRUE(yesAndNoOnly);
}
