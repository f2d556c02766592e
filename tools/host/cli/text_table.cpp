#include "text_table.h"

#include <algorithm>

namespace strevon {
namespace hosttool {

namespace {

// Display width: count UTF-8 lead bytes, not continuation bytes.
std::size_t Width(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

}  // namespace

TextTable::TextTable(std::vector<std::string> headers, std::vector<bool> numeric)
    : m_headers(std::move(headers)), m_numeric(std::move(numeric)) {
  m_numeric.resize(m_headers.size(), false);
}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(m_headers.size());
  m_rows.push_back(std::move(cells));
}

std::string TextTable::Render(std::size_t indent) const {
  std::vector<std::size_t> widths(m_headers.size());
  for (std::size_t c = 0; c < m_headers.size(); ++c) {
    widths[c] = Width(m_headers[c]);
    for (const auto& row : m_rows) widths[c] = std::max(widths[c], Width(row[c]));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string out(indent, ' ');
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::string pad(widths[c] - Width(cells[c]), ' ');
      const bool last = c + 1 == cells.size();
      if (m_numeric[c]) {
        out += pad + cells[c];
      } else {
        out += cells[c];
        if (!last) out += pad;
      }
      if (!last) out += "  ";
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out + "\n";
  };
  std::string out = line(m_headers);
  for (const auto& row : m_rows) out += line(row);
  return out;
}

}  // namespace hosttool
}  // namespace strevon
