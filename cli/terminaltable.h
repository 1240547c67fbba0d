#pragma once

#include <string>
#include <vector>

namespace loomwatch::cli {

// Fixed-width text columns for people at a terminal: cells longer than their column are cut
// with "…", widths count characters (code points), not bytes.
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

// Number of code points in UTF-8 text (invalid bytes count one each).
std::size_t characterCount(const std::string& text);
// At most `width` characters; longer text is cut to width - 1 characters and "…".
std::string fitToWidth(const std::string& text, std::size_t width);

} // namespace loomwatch::cli
