#pragma once
// Rows of one select, as text. Filled by Database::querySql; read by any thread
// that owns the object.

#include <string>
#include <vector>

class QueryResult {
public:
    // Column names in result order; empty when the result has no rows.
    std::vector<std::string> columns;
    // One list of values a row, in column order; NULL reads as empty text.
    std::vector<std::vector<std::string>> rows;

    size_t rowCount() const { return rows.size(); }
    std::vector<std::string> row(long index) const;
    std::vector<std::string> column(const std::string& name) const;
    std::string cell(long index, const std::string& name) const;
    void clear();

private:
    long columnIndex(const std::string& name) const;
};
