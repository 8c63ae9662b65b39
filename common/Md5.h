#pragma once
// MD5 digests as 32 upper-case hexadecimal digits.

#include <cstddef>
#include <cstdint>
#include <string>

bool getMd5(const std::string& path, std::string& out);
// Digest of count bytes from offset; a range past the end of the file
// covers only the bytes that are there.
bool getMd5(const std::string& path, std::string& out, int64_t offset, int64_t count);
std::string getMd5(const void* block, size_t length);
