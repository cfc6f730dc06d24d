#include "periphconfig/name_table.h"

NameTable::NameTable(const Row* rows, size_t count, int32_t fallback) : fallback_(fallback) {
    for (size_t i = 0; i < count; ++i)
        rows_.push_back(std::make_pair(std::string(rows[i].name), rows[i].value));
    Index();
}

NameTable::NameTable(const Rows& rows, int32_t fallback) : rows_(rows), fallback_(fallback) {
    Index();
}

void NameTable::Index() {
    for (size_t i = 0; i < rows_.size(); ++i)
        index_.insert(rows_[i]);
}

int32_t NameTable::Lookup(const std::string& text) const {
    const std::map<std::string, int32_t>::const_iterator found = index_.find(text);
    return found == index_.end() ? fallback_ : found->second;
}

bool NameTable::Contains(const std::string& text) const {
    return index_.find(text) != index_.end();
}

std::string NameTable::NameOf(int32_t value) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].second == value)
            return rows_[i].first;
    }
    return std::string();
}
