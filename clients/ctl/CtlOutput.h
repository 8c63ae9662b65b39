#pragma once
// How sonavelctl prints: aligned tables for people, one JSON document for
// scripts, errors as one line on standard error. Main thread.

#include <json/json.h>

#include <string>
#include <vector>

// Prints "sonavelctl: message" on standard error and returns 1.
int fail(const std::string& message);
// One JSON document on standard output, indented.
void printJson(const Json::Value& value);

class TablePrinter {
public:
    explicit TablePrinter(std::vector<std::string> headers);
    void add(std::vector<std::string> row);
    // Prints the table, or empty (say "no endpoints") when it has no rows.
    void print(const std::string& empty) const;

private:
    std::vector<std::vector<std::string>> rows_;
};
