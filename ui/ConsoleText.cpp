#include "ui/ConsoleText.h"

#include <algorithm>

namespace console {

namespace {

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

int UnitWidth(char16_t u) {
    if ((u >= 0x0080 && u <= 0xFF60) || (u >= 0xFFDD && u <= 0xFFE7) || u >= 0xFFEF)
        return 2;
    return 1;
}

std::u16string CleanForDisplay(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if (c == 0x15)
            c = kNakSymbol;
        else if (c < 0x20 && c != u'\t' && c != u'\n')
            c = u'\n';
    }
    return out;
}

std::u16string MakeEchoText(std::u16string_view command) {
    return CleanForDisplay(command.substr(0, std::min(command.size(), kEchoMaxChars)));
}

void LineStore::SetUp(int columns, int rows) {
    m_lineWidth = std::max(columns, 1);
    m_rowLimit = std::max(rows, 1);
    Clear();
    m_setUp = true;
}

void LineStore::Clear() {
    m_lines.clear();
    m_lines.emplace_back();
    m_column = 0;
    m_lineIndex = 0;
}

void LineStore::FinishLine(AppendChange& change) {
    m_lines.back() += u"\r\n";
    m_column = 0;
    ++m_finished;
    if (m_lineIndex < m_rowLimit - 1) {
        ++m_lineIndex;
    } else {
        m_lines.pop_front();
        ++change.removedFront;
    }
    m_lines.emplace_back();
}

AppendChange LineStore::Append(std::u16string_view text, std::size_t maxUnits) {
    AppendChange change;
    if (!m_setUp)
        return change;
    const std::size_t oldCurrent = m_lines.size() - 1;
    const std::size_t end = std::min(text.size(), maxUnits);
    for (std::size_t i = 0; i < end && text[i] != 0;) {
        const char16_t u = text[i];
        if (u == u'\n') {
            FinishLine(change);
            ++i;
            continue;
        }
        // A pair counts only when its low half is inside the range handed over; a lone
        // surrogate is taken as one unit of its own.
        const std::size_t units =
            (IsHighSurrogate(u) && i + 1 < end && IsLowSurrogate(text[i + 1])) ? 2 : 1;
        const int width = units == 2 ? 2 : UnitWidth(u);
        if (width == 2 && m_column >= m_lineWidth - 1 && m_column > 0)
            FinishLine(change);
        m_lines.back().append(text.substr(i, units));
        m_column += width;
        i += units;
        if (m_column >= m_lineWidth)
            FinishLine(change);
    }
    change.unchangedPrefix =
        oldCurrent > change.removedFront ? oldCurrent - change.removedFront : 0;
    return change;
}

std::u16string LineStore::Text() const {
    std::size_t size = 0;
    for (const auto& line : m_lines)
        size += line.size();
    std::u16string text;
    text.reserve(size);
    for (const auto& line : m_lines)
        text += line;
    return text;
}

FormLayout ResizeForm(const FormLayout& initial, int cx, int cy) {
    const DlgRect& out0 = initial.output;
    const DlgRect& in0 = initial.input;
    const DlgRect& send0 = initial.send;
    const DlgRect& check0 = initial.check;
    FormLayout next = initial;

    next.output.w = std::max(cx - out0.x - 4, check0.w + send0.w + 6);
    next.output.h = std::max(cy - 15 - out0.y - in0.h - check0.h, 241 - in0.h - check0.h);

    const int rowY = next.output.y + next.output.h + 7;
    next.input = {in0.x, rowY, std::max(cx - in0.x - send0.w - 10, check0.w), in0.h};
    next.send = {next.input.x + next.input.w + 6, rowY, send0.w, send0.h};
    next.check = {check0.x, rowY + in0.h + 4, check0.w, check0.h};
    return next;
}

} // namespace console
