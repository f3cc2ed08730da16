// CConsoleEdit: the console's output control. It keeps a bounded number of lines wrapped at a
// fixed number of display columns (console::LineStore) and always scrolls to the newest
// text. Read-only for the user; Ctrl+A selects everything, Ctrl+C copies the selection.
#pragma once

#include "ui/ConsoleText.h"

#include <QColor>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <mutex>
#include <string_view>

class QTimer;

class CConsoleEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CConsoleEdit(QWidget* parent = nullptr);

    // Prepares the control for lines of `columns` display columns and at most `rows` lines,
    // and empties it. Appending before this does nothing.
    void SetUp(int columns, int rows);
    bool IsSetUp() const { return m_store.IsSetUp(); }

    // Appends at most maxUnits UTF-16 units of text (stopping early at a zero unit) and
    // scrolls to the newest line.
    void Append(std::u16string_view text, std::size_t maxUnits = SIZE_MAX);
    void Append(const QString& text);
    // The same for received bytes that keep coming: the store takes the text at once, the
    // widget shows it within kMirrorIntervalMs (at once after a quiet spell), so a flood costs
    // one redraw per interval instead of one per flush.
    void Feed(std::u16string_view text);
    static constexpr int kMirrorIntervalMs = 50;

    // Empties the output.
    void Clear();

    // A chosen background (its text black or white, whichever reads), or an invalid colour for
    // the inherited palette's base and text colours, which follow theme changes.
    void SetBackground(const QColor& colour);
    QColor Background() const;

    const console::LineStore& Store() const { return m_store; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Adds an append's change to those the widget has not shown yet.
    void NoteChange(const console::AppendChange& change, std::size_t oldLineCount);
    // Brings the widget up to the store (under the lock).
    void MirrorPending();
    void Mirror(const console::AppendChange& change, std::size_t oldLineCount);
    void ScrollToNewest();

    void ApplyBackground();

    QColor m_background; // invalid: the palette's
    std::mutex m_appendLock;
    console::LineStore m_store;
    // Changes of the store not mirrored yet: lines dropped at the front, the unchanged prefix,
    // and the number of lines the widget still shows.
    bool m_pending = false;
    console::AppendChange m_pendingChange;
    std::size_t m_shownLines = 1;
    QTimer* m_mirrorTimer = nullptr;
    QElapsedTimer m_lastMirror;
};
