#include "sim/text_table.h"

#include <algorithm>
#include <cstdint>

namespace sim {

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = 0;
        uint32_t lowest = 0;
        if (c < 0x80) {
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
            lowest = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            lowest = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            lowest = 0x10000;
        }
        bool valid = n > 0 && i + n <= text.size();
        uint32_t code = n == 1 ? c : (c & (0x7F >> n));
        for (size_t k = 1; valid && k < n; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        valid = valid && code >= lowest && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (valid) {
            out.append(text, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string TableCell(const std::optional<std::string>& text, size_t longest) {
    if (!text)
        return "-";
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : ValidUtf8(*text)) {
        if (c < 0x20) {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        } else {
            shown += char(c);
        }
    }
    if (shown.size() > longest)
        shown = shown.substr(0, longest) + "... (" + std::to_string(text->size()) + " bytes)";
    return shown;
}

std::vector<std::string> FormatColumns(const std::vector<std::vector<std::string>>& rows,
                                       const std::string& indent) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size())
            widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line = indent;
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                line += " ";
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - row[i].size(), ' ');
        }
        while (line.size() > indent.size() && line.back() == ' ')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace sim
