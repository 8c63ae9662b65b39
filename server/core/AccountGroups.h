#pragma once
// The groups text of an account row: every id followed by a comma. Pure
// functions; any thread.

#include <string>
#include <vector>

// {"g1", "g2"} gives "g1,g2,"; no ids give the empty text.
std::string joinAccountGroups(const std::vector<std::string>& ids);
// The one split used by log-in and by the account list: empty pieces,
// such as the one after the trailing comma, are left out.
std::vector<std::string> splitAccountGroups(const std::string& text);
