#pragma once
// Start at log-on through the XDG autostart entry, which runs the tool in
// its start mode. Dialog thread.

#include <string>

// $XDG_CONFIG_HOME/autostart/sonavel.desktop
std::string autostartEntryPath();
// The entry's text; its Exec line is the tool's path, quoted, then " --start".
std::string autostartEntryText(const std::string& toolPath);
// Whether an entry exists; its content is not compared.
bool autostartEntryExists();
// Written atomically, creating the autostart folder when needed.
bool writeAutostartEntry(const std::string& toolPath);
// True when no entry is left.
bool removeAutostartEntry();
// Full path of the running executable.
std::string ownExecutablePath();
