#pragma once
// Compact JSON text as the server stores it, and the strict reader for stored
// texts. Pure functions; any thread.

#include <json/json.h>

#include <string>

// Compact single-line text followed by one line feed; bytes of strings are
// written as they are (only quotes, backslashes and control characters are
// escaped), so any id reads back exactly.
std::string compactJson(const Json::Value& value);

// Strict parse of a stored text: no comments, the root must be an object or
// an array. False, never an exception, for anything else.
bool parseStoredJson(const std::string& text, Json::Value& out);
