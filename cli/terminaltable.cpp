#include "cli/terminaltable.h"

namespace loomwatch::cli {

namespace {

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Replaces line breaks and tabs so that one cell stays on one line.
std::string singleLine(std::string text)
{
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    return text;
}

} // namespace

std::size_t characterCount(const std::string& text)
{
    std::size_t count = 0;
    for (char c : text) {
        if (!isContinuationByte(c))
            ++count;
    }
    return count;
}

std::string fitToWidth(const std::string& text, std::size_t width)
{
    if (characterCount(text) <= width)
        return text;
    if (width == 0)
        return {};
    std::size_t kept = 0;
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t next = end + 1;
        while (next < text.size() && isContinuationByte(text[next]))
            ++next;
        if (kept + 1 > width - 1)
            break;
        ++kept;
        end = next;
    }
    return text.substr(0, end) + "\xE2\x80\xA6";
}

TerminalTable::TerminalTable(std::vector<Column> columns) : m_columns(std::move(columns)) {}

void TerminalTable::addRow(std::vector<std::string> cells)
{
    m_rows.push_back(std::move(cells));
}

std::string TerminalTable::renderRow(const std::vector<std::string>& cells, std::size_t indent) const
{
    std::string line(indent, ' ');
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const Column& column = m_columns[i];
        const std::string cell = fitToWidth(singleLine(i < cells.size() ? cells[i] : std::string()), column.width);
        const std::size_t padding = column.width - characterCount(cell);
        if (i > 0)
            line += "  ";
        if (column.align == Align::right)
            line += std::string(padding, ' ') + cell;
        else
            line += cell + std::string(padding, ' ');
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line + '\n';
}

std::string TerminalTable::render(bool withHeader, std::size_t indent) const
{
    std::string out;
    if (withHeader) {
        std::vector<std::string> titles;
        for (const auto& column : m_columns)
            titles.push_back(column.title);
        out += renderRow(titles, indent);
    }
    for (const auto& row : m_rows)
        out += renderRow(row, indent);
    return out;
}

} // namespace loomwatch::cli
