#include "ui/ConsoleEdit.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

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
}

void CConsoleEdit::Clear() {
    std::lock_guard lock(m_appendLock);
    m_store.Clear();
    document()->clear();
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
    const console::AppendChange change = m_store.Append(text, maxUnits);
    setUpdatesEnabled(false);
    Mirror(change, oldLineCount);
    ScrollToNewest();
    setUpdatesEnabled(true);
    viewport()->update();
}

// The document holds one block per stored line. Only the lines an append touched are
// rewritten: the dropped ones at the front and everything from the old current line on.
void CConsoleEdit::Mirror(const console::AppendChange& change, std::size_t oldLineCount) {
    QTextDocument* doc = document();
    const auto& lines = m_store.Lines();
    std::size_t from = change.unchangedPrefix;
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    if (from == 0 || static_cast<std::size_t>(doc->blockCount()) != oldLineCount) {
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
