#include "ui/ConsoleEdit.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

namespace {

// A stored line as the widget shows it: one text block, without the line end.
QString DisplayLine(const std::u16string& line) {
    std::size_t n = line.size();
    if (n >= 2 && line[n - 2] == u'\r' && line[n - 1] == u'\n')
        n -= 2;
    QString shown = QString::fromUtf16(line.data(), static_cast<qsizetype>(n));
    // Unicode line and paragraph separators would split the line into several blocks.
    shown.replace(QChar::LineSeparator, QChar(u' '));
    shown.replace(QChar::ParagraphSeparator, QChar(u' '));
    return shown;
}

} // namespace

CConsoleEdit::CConsoleEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setWordWrapMode(QTextOption::WrapAnywhere);
    SetBackground(m_background);
    m_mirrorTimer = new QTimer(this);
    m_mirrorTimer->setSingleShot(true);
    connect(m_mirrorTimer, &QTimer::timeout, this, [this] {
        std::lock_guard lock(m_appendLock);
        MirrorPending();
    });
}

void CConsoleEdit::SetBackground(const QColor& colour) {
    m_background = colour;
    ApplyBackground();
}

QColor CConsoleEdit::Background() const {
    return palette().color(QPalette::Base);
}

void CConsoleEdit::ApplyBackground() {
    if (m_background.isValid()) {
        QPalette pal = palette();
        pal.setColor(QPalette::Base, m_background);
        pal.setColor(QPalette::Window, m_background);
        pal.setColor(QPalette::Text, m_background.lightness() >= 128 ? Qt::black : Qt::white);
        setPalette(pal);
    } else {
        // No colours of its own: the inherited palette, which follows theme changes.
        setPalette(QPalette());
    }
    viewport()->update();
}

void CConsoleEdit::SetUp(int columns, int rows) {
    std::lock_guard lock(m_appendLock);
    m_store.SetUp(columns, rows);
    document()->clear();
    m_pending = false;
    m_shownLines = 1;
}

void CConsoleEdit::Clear() {
    std::lock_guard lock(m_appendLock);
    m_store.Clear();
    document()->clear();
    m_pending = false;
    m_shownLines = 1;
}

void CConsoleEdit::Append(const QString& text) {
    Append(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                               static_cast<std::size_t>(text.size())));
}

void CConsoleEdit::Append(std::u16string_view text, std::size_t maxUnits) {
    std::lock_guard lock(m_appendLock);
    if (!m_store.IsSetUp())
        return;
    const std::size_t oldLineCount = m_store.Lines().size();
    NoteChange(m_store.Append(text, maxUnits), oldLineCount);
    MirrorPending();
}

void CConsoleEdit::Feed(std::u16string_view text) {
    std::lock_guard lock(m_appendLock);
    if (!m_store.IsSetUp() || text.empty())
        return;
    const std::size_t oldLineCount = m_store.Lines().size();
    NoteChange(m_store.Append(text), oldLineCount);
    const qint64 since = m_lastMirror.isValid() ? m_lastMirror.elapsed() : kMirrorIntervalMs;
    if (since >= kMirrorIntervalMs)
        MirrorPending();
    else if (!m_mirrorTimer->isActive())
        m_mirrorTimer->start(static_cast<int>(kMirrorIntervalMs - since));
}

void CConsoleEdit::NoteChange(const console::AppendChange& change, std::size_t oldLineCount) {
    if (!m_pending) {
        m_pendingChange = change;
        m_shownLines = oldLineCount;
        m_pending = true;
        return;
    }
    // The lines still unchanged are those unchanged by both appends.
    const std::size_t before = m_pendingChange.unchangedPrefix > change.removedFront
                                   ? m_pendingChange.unchangedPrefix - change.removedFront
                                   : 0;
    m_pendingChange.removedFront += change.removedFront;
    m_pendingChange.unchangedPrefix = std::min(before, change.unchangedPrefix);
}

void CConsoleEdit::MirrorPending() {
    m_mirrorTimer->stop();
    if (!m_pending)
        return;
    m_pending = false;
    setUpdatesEnabled(false);
    Mirror(m_pendingChange, m_shownLines);
    ScrollToNewest();
    setUpdatesEnabled(true);
    viewport()->update();
    m_lastMirror.start();
}

// The document holds one block per stored line. Only the lines an append touched are
// rewritten: the dropped ones at the front and everything from the old current line on.
void CConsoleEdit::Mirror(const console::AppendChange& change, std::size_t oldLineCount) {
    QTextDocument* doc = document();
    const auto& lines = m_store.Lines();
    std::size_t from = change.unchangedPrefix;
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    // Dropping many blocks at the front of a document costs more than building it anew.
    if (from == 0 || change.removedFront * 10 > oldLineCount ||
        static_cast<std::size_t>(doc->blockCount()) != oldLineCount) {
        cursor.select(QTextCursor::Document);
        from = 0;
    } else {
        if (change.removedFront > 0) {
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                                static_cast<int>(change.removedFront));
            cursor.removeSelectedText();
        }
        cursor.setPosition(doc->findBlockByNumber(static_cast<int>(from)).position());
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    }
    QString text;
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (i > from)
            text += QChar(u'\n');
        text += DisplayLine(lines[i]);
    }
    cursor.insertText(text);
    cursor.endEditBlock();
}

void CConsoleEdit::ScrollToNewest() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CConsoleEdit::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::ControlModifier) {
        if (event->key() == Qt::Key_A) {
            selectAll();
            ensureCursorVisible();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_C) {
            copy();
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}
