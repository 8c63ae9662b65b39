#pragma once
// Where the configuration tool finds the settings it shares with the server
// and its own language setting. Any thread.

#include <string>

inline constexpr const char* kSettingsKey = "TervikSoft\\Sonavel";
inline constexpr const char* kToolSettingsKey = "TervikSoft\\SonavelConfig\\SET";

// "DocDir", else the Documents folder + "/Sonavel": the server's own rule.
std::string getDocDir();
// Stores the document folder as typed; an empty text means the default.
bool setDocDir(const std::string& dir);
// The database file inside a document folder.
std::string databasePath(const std::string& docDir);
// The tool's "language" value, "zh-CN" when missing or empty.
std::string storedLanguage();
