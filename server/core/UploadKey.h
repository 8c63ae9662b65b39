#pragma once
// Upload keys, which identify a file's content, and the checks built on them.
// Pure functions apart from reading files; any thread.

#include <cstdint>
#include <string>

// Length of the front and back ranges of the front/back form.
inline constexpr int64_t kUploadRange = 2097152;

// "FRONT-BACK-size", both digests upper-cased.
std::string frontBackKey(const std::string& front, const std::string& back, int64_t size);

// Offset of the back range of a file of size bytes.
int64_t backRangeOffset(int64_t size);

// Whether the file at path holds the content the key names. A key of one
// piece is a whole-file digest; a key of three pieces is the front/back form,
// whose size is checked before anything is read; any other key fails.
bool verifyUploadKey(const std::string& key, const std::string& path);

// The last path element of a client's file name ('/' and '\' both separate).
// False for a name that is then empty, "." or "..", or holds a NUL byte.
bool uploadFileName(const std::string& clientName, std::string& out);
