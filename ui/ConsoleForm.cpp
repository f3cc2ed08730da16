#include "ui/ConsoleForm.h"

#include "base/MessageTable.h"
#include "base/Messages.h"
#include "comm/CommandCheck.h"
#include "ui/ConsoleEdit.h"
#include "ui/DialogTemplate.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace {

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

DlgRect FromQRect(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}
QRect ToQRect(const DlgRect& r) {
    return QRect(r.x, r.y, r.w, r.h);
}

} // namespace

CConsoleForm::CConsoleForm(QWidget* parent) : QWidget(parent) {
    const DialogTemplate t(this);
    m_clear = t.place(new QPushButton(this), IDC_CLEAR, {4, 2, 50, 14});
    m_output = t.place(new CConsoleEdit(this), IDC_OUTPUT, {4, 20, 355, 249});
    m_input = t.place(new QLineEdit(this), IDC_INPUT, {4, 274, 182, 14});
    m_send = t.place(new QPushButton(this), IDC_SEND, {190, 274, 50, 14});
    m_appendCr = t.place(new QCheckBox(this), IDC_APPEND_CR, {4, 292, 61, 10});
    const QRect size = t.toPixels({0, 0, 370, 310});
    resize(size.size());
    // The splitter may shrink the pane to nothing; the controls are clipped then.
    setMinimumSize(0, 0);

    m_clear->setText(M(MSG_CLEAR));
    m_send->setText(M(MSG_SEND));
    m_appendCr->setText(M(MSG_APPEND_CR));
    m_appendCr->setEnabled(false);
    m_send->setAutoDefault(false);

    connect(m_clear, &QPushButton::clicked, this, &CConsoleForm::ClearOutput);
    connect(m_send, &QPushButton::clicked, this, &CConsoleForm::Send);
    connect(m_input, &QLineEdit::returnPressed, this, &CConsoleForm::Send);
    m_send->installEventFilter(this);
}

void CConsoleForm::InitialUpdate(int consoleRows, bool appendCr, bool engineReady) {
    m_initialLayout = {FromQRect(m_output->geometry()), FromQRect(m_input->geometry()),
                       FromQRect(m_send->geometry()), FromQRect(m_appendCr->geometry())};

    // A fixed-pitch font of the form's size for the output.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont& formFont = font();
    if (formFont.pointSizeF() > 0)
        fixed.setPointSizeF(formFont.pointSizeF());
    else if (formFont.pixelSize() > 0)
        fixed.setPixelSize(formFont.pixelSize());
    fixed.setWeight(formFont.weight());
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    m_output->setFont(fixed);
    m_output->SetBackground(QColor()); // the palette's, readable in a dark theme too
    m_output->SetUp(console::kLineColumns, consoleRows);

    m_appendCr->setChecked(appendCr);
    m_appendCr->setEnabled(false);
    m_clear->setText(M(MSG_CLEAR));
    m_send->setText(M(MSG_SEND));
    m_appendCr->setText(M(MSG_APPEND_CR));
    FitTexts(this);
    m_initialised = true;
    Refresh(engineReady);
    ApplyLayout(console::ResizeForm(m_initialLayout, width(), height()));
}

void CConsoleForm::SetReceiveSource(std::unique_ptr<console::IReceiveSource> source,
                                    std::function<void()> flushWanted) {
    m_source = std::move(source);
    m_flushWanted = std::move(flushWanted);
}

void CConsoleForm::Refresh(bool engineReady) {
    m_input->setEnabled(engineReady);
    m_send->setEnabled(engineReady);
    if (engineReady && m_reader.EndCommand())
        WantFlush();
}

void CConsoleForm::WantFlush() {
    if (m_flushWanted)
        m_flushWanted();
}

void CConsoleForm::Activate() {
    m_input->setFocus(Qt::OtherFocusReason);
    m_input->selectAll();
}

void CConsoleForm::AppendText(std::u16string_view text) {
    m_output->Append(text);
}

void CConsoleForm::AppendEcho(std::u16string_view command, uint64_t receivedBefore) {
    const console::LineStore& store = m_output->Store();
    if (m_source)
        m_output->Feed(m_reader.BeforeEcho(*m_source, store, receivedBefore).text);
    const std::u16string echo = console::MakeEchoText(command);
    m_output->Append(store.Column() > 0 ? u"\n" + echo : echo);
    m_reader.EchoShown(store);
}

uint64_t CConsoleForm::Flush(const console::Clock& clock) {
    return m_source ? Flush(*m_source, clock) : 0;
}

uint64_t CConsoleForm::Flush(console::IReceiveSource& source, const console::Clock& clock) {
    const console::FlushBatch batch = m_reader.Flush(source, m_output->Store(), clock);
    m_output->Feed(batch.text);
    return batch.backlogLeft;
}

void CConsoleForm::ShowReply(uint64_t position) {
    if (!m_source)
        return;
    const console::FlushBatch batch = m_reader.UpTo(*m_source, m_output->Store(), position);
    if (!batch.text.empty())
        m_output->Append(batch.text);
    WantFlush();
}

void CConsoleForm::Send() {
    const QString text = m_input->text();
    if (text.isEmpty()) {
        Activate();
        return;
    }
    // A command that would not go out as typed (a control character, a character the codeset
    // cannot hold) is not sent; the input keeps it for mending.
    const std::u16string command = text.toStdU16String();
    if (const CommandCheck check = CheckCommandText(command); !check.Fit()) {
        RunMessageBox(this, QString(), QString::fromStdU16String(CommandCheckText(check)),
                      MB_OK | MB_ICONWARNING);
        Activate();
        return;
    }
    if (m_onSend)
        m_onSend(command);
}

void CConsoleForm::ClearOutput() {
    m_output->Clear();
    // What arrived before Clear is not shown afterwards either.
    if (m_source)
        m_reader.Drop(*m_source);
}

bool CConsoleForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_send && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && m_send->isEnabled()) {
            Send();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CConsoleForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_initialised)
        ApplyLayout(console::ResizeForm(m_initialLayout, width(), height()));
}

void CConsoleForm::ApplyLayout(const console::FormLayout& layout) {
    m_output->setGeometry(ToQRect(layout.output));
    m_input->setGeometry(ToQRect(layout.input));
    m_send->setGeometry(ToQRect(layout.send));
    m_appendCr->setGeometry(ToQRect(layout.check));
}
