#include "cli/terminaltable.h"

#include "cli/displaywidth.h"

namespace loomwatch::cli {

namespace {

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
        const std::size_t cellWidth = displayWidth(cell);
        const std::size_t padding = column.width > cellWidth ? column.width - cellWidth : 0;
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
