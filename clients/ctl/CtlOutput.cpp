#include "clients/ctl/CtlOutput.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

int fail(const std::string& message) {
    std::fprintf(stderr, "sonavelctl: %s\n", message.c_str());
    return 1;
}

void printJson(const Json::Value& value) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    b["emitUTF8"] = true;
    std::cout << Json::writeString(b, value) << std::endl;
}

TablePrinter::TablePrinter(std::vector<std::string> headers) {
    rows_.push_back(std::move(headers));
}

void TablePrinter::add(std::vector<std::string> row) {
    rows_.push_back(std::move(row));
}

void TablePrinter::print(const std::string& empty) const {
    if (rows_.size() == 1) {
        std::cout << empty << std::endl;
        return;
    }
    std::vector<size_t> widths;
    for (const auto& row : rows_) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows_) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        std::cout << line << "\n";
    }
    std::cout.flush();
}
