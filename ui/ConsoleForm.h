// CConsoleForm: the console pane. The user types a raw camera command and sends it; the
// output shows every command the engine sends and every byte the camera sends back.
#pragma once

#include "ui/ConsoleFeed.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class CConsoleEdit;

class CConsoleForm : public QWidget {
    Q_OBJECT
public:
    // Control ids of the form's template.
    enum : int {
        IDC_CLEAR = 1017,
        IDC_OUTPUT = 1014,
        IDC_INPUT = 1015,
        IDC_SEND = 1016,
        IDC_APPEND_CR = 1018,
    };

    // Receives the command text of a Send (never empty). The application makes it the
    // command text of a single-command job and signals the job event.
    using SendHandler = std::function<void(const std::u16string& command)>;

    explicit CConsoleForm(QWidget* parent = nullptr);

    // Once, after creation: output font and colours, the output set up for `consoleRows`
    // lines ("Console Rows"), the Append CR box ticked by the engine's flag and disabled,
    // texts from the message table, input and Send enabled when the engine is ready.
    void InitialUpdate(int consoleRows, bool appendCr, bool engineReady);
    bool IsInitialised() const { return m_initialised; }

    void SetSendHandler(SendHandler handler) { m_onSend = std::move(handler); }
    // Where received bytes come from (the engine's receive ring), and who runs a flush when
    // the console, having held back for a command's reply, may go on (the window's flush).
    void SetReceiveSource(std::unique_ptr<console::IReceiveSource> source,
                          std::function<void()> flushWanted);

    // Input and Send enabled exactly when the engine is ready. A ready engine runs no job, so
    // no command of it is in flight any more.
    void Refresh(bool engineReady);
    // Focus to the input with all its text selected.
    void Activate();

    // Appends text to the output (console notes).
    void AppendText(std::u16string_view text);
    // The echo of a sent command, cut and cleaned, on a line of its own, after everything
    // received before it.
    // receivedBefore: the stream position of the received bytes when the command went out.
    void AppendEcho(std::u16string_view command, uint64_t receivedBefore = UINT64_MAX);
    // Moves received bytes to the output: at most 500 characters or 0.4 seconds per call (see
    // console::BacklogReader). Returns the backlog a later flush will take, which the caller
    // keeps as its console backlog and uses to run the next flush.
    uint64_t Flush(const console::Clock& clock = {});
    uint64_t Flush(console::IReceiveSource& source, const console::Clock& clock = {});
    // The transaction of the command last echoed has ended at the ring position `position`: its
    // reply is shown at once.
    void ShowReply(uint64_t position);

    // The Send action (button 1016, or Enter in the input or on the Send button). A text that
    // CheckCommandText refuses is not handed on: a message box says why.
    void Send();
    // The Clear action (button 1017).
    void ClearOutput();

    CConsoleEdit* Output() const { return m_output; }
    const console::BacklogReader& Reader() const { return m_reader; }
    QLineEdit* Input() const { return m_input; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyLayout(const console::FormLayout& layout);
    void WantFlush();

    QPushButton* m_clear = nullptr;
    CConsoleEdit* m_output = nullptr;
    QLineEdit* m_input = nullptr;
    QPushButton* m_send = nullptr;
    QCheckBox* m_appendCr = nullptr;
    console::FormLayout m_initialLayout;
    bool m_initialised = false;
    SendHandler m_onSend;
    std::unique_ptr<console::IReceiveSource> m_source;
    std::function<void()> m_flushWanted;
    console::BacklogReader m_reader;
};
