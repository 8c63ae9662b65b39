#pragma once
// Whole-file reads and writes for tests; a missing file reads as empty.

#include <string>

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
