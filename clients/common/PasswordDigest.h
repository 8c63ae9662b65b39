#pragma once
// What a manager client sends as "password": the lowercase MD5 hex digest of
// the text the user typed.

#include <string>

std::string passwordDigest(const std::string& typed);
