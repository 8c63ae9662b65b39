#pragma once
// One group of endpoints, as kept in memory and in table groups. Network thread.

#include <string>
#include <vector>

struct _NetGroup {
    std::string groupId;
    std::string groupName;
    std::vector<std::string> members;

    bool hasMember(const std::string& devId) const;
    // Appends unless already there; true when it was appended.
    bool addMember(const std::string& devId);
    // Removes the first occurrence; true when there was one.
    bool removeMember(const std::string& devId);

    // The stored text: a compact JSON array and a line feed, or null and a
    // line feed for an empty list.
    std::string membersText() const;
    // Reads a stored text; anything but an array gives no members, and
    // elements that are not plain values are skipped.
    static std::vector<std::string> parseMembers(const std::string& text);
};
