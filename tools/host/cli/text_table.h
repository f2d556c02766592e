// TextTable: rows of text cells printed as an aligned table with a header
// line, for the terminal output of every command. Numbers are right-aligned
// when a column is marked numeric. A plain value; no threads.
#pragma once

#include <string>
#include <vector>

namespace strevon {
namespace hosttool {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers, std::vector<bool> numeric = {});

  void AddRow(std::vector<std::string> cells);
  std::size_t RowCount() const { return m_rows.size(); }
  // The table, each line indented by indent blanks and ending in '\n'.
  std::string Render(std::size_t indent = 2) const;

 private:
  std::vector<std::string> m_headers;
  std::vector<bool> m_numeric;
  std::vector<std::vector<std::string>> m_rows;
};

}  // namespace hosttool
}  // namespace strevon
