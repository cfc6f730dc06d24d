// Plain-text tables and cells for the toolkit's readable reports.
#ifndef FWSETUP_SIM_TEXT_TABLE_H
#define FWSETUP_SIM_TEXT_TABLE_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// A text as one table cell: "-" when absent, control bytes as \xNN, bytes that
// are not valid UTF-8 as U+FFFD, and a text longer than longest characters cut
// there, followed by "... (N bytes)".
std::string TableCell(const std::optional<std::string>& text, size_t longest = 60);

// text with every byte that does not begin a valid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

// The rows as lines, each starting with indent, columns padded to their widest
// cell and separated by one space; no trailing spaces.
std::vector<std::string> FormatColumns(const std::vector<std::vector<std::string>>& rows,
                                       const std::string& indent);

}  // namespace sim

#endif
