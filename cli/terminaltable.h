#pragma once

#include <string>
#include <vector>

namespace loomwatch::cli {

// Fixed-width text columns for people at a terminal: cells wider than their column are cut with
// "…"; widths are terminal columns (see displayWidth).
class TerminalTable
{
public:
    enum class Align
    {
        left,
        right,
    };

    struct Column
    {
        std::string title;
        std::size_t width = 10;
        Align align = Align::left;
    };

    explicit TerminalTable(std::vector<Column> columns);

    void addRow(std::vector<std::string> cells);
    // One line per row (after a header line when `withHeader`), each indented by `indent`
    // spaces, columns two spaces apart, no trailing blanks.
    std::string render(bool withHeader, std::size_t indent = 0) const;

private:
    std::string renderRow(const std::vector<std::string>& cells, std::size_t indent) const;

    std::vector<Column> m_columns;
    std::vector<std::vector<std::string>> m_rows;
};

} // namespace loomwatch::cli
