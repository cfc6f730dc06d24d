// A table that translates the texts of one member of a device object into numbers.
#ifndef FWSETUP_PERIPHCONFIG_NAME_TABLE_H
#define FWSETUP_PERIPHCONFIG_NAME_TABLE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class NameTable {
  public:
    struct Row {
        const char* name;
        int32_t value;
    };
    typedef std::vector<std::pair<std::string, int32_t> > Rows;

    // count rows; a text the table lacks gives fallback.
    NameTable(const Row* rows, size_t count, int32_t fallback = 0);
    explicit NameTable(const Rows& rows, int32_t fallback = 0);

    // The value of text, compared byte for byte (case matters), or the fallback.
    int32_t Lookup(const std::string& text) const;
    // True when text is in the table.
    bool Contains(const std::string& text) const;
    // The first name, in table order, whose value is value; empty when none.
    std::string NameOf(int32_t value) const;
    int32_t Fallback() const { return fallback_; }
    // The rows in table order.
    const Rows& GetRows() const { return rows_; }

  private:
    void Index();

    Rows rows_;
    std::map<std::string, int32_t> index_;
    int32_t fallback_;
};

#endif
