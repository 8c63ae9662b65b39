#include "server/db/QueryResult.h"

std::vector<std::string> QueryResult::row(long index) const {
    if (index < 0 || static_cast<size_t>(index) >= rows.size()) {
        return {};
    }
    return rows[static_cast<size_t>(index)];
}

std::vector<std::string> QueryResult::column(const std::string& name) const {
    std::vector<std::string> values;
    long c = columnIndex(name);
    if (c < 0) {
        return values;
    }
    values.reserve(rows.size());
    for (const auto& r : rows) {
        values.push_back(r[static_cast<size_t>(c)]);
    }
    return values;
}

std::string QueryResult::cell(long index, const std::string& name) const {
    long c = columnIndex(name);
    if (c < 0 || index < 0 || static_cast<size_t>(index) >= rows.size()) {
        return "";
    }
    return rows[static_cast<size_t>(index)][static_cast<size_t>(c)];
}

void QueryResult::clear() {
    columns.clear();
    rows.clear();
}

long QueryResult::columnIndex(const std::string& name) const {
    for (size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] == name) {
            return static_cast<long>(i);
        }
    }
    return -1;
}
