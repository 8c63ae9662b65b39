#pragma once
// Who a message is for: everyone, members of groups, or listed ids.
// Plain data and a pure parser, usable from any thread.

#include <cstdint>
#include <string>
#include <vector>

enum TargetPolicy : int32_t {
    ToAll = 0,
    ToGroup = 1,
    ToTarget = 2,
};

struct Target {
    TargetPolicy policy = ToAll;
    std::string src;               // written as "src" of every frame sent for it
    std::vector<std::string> dst;  // group ids (ToGroup) or connection ids (ToTarget)
};

// Reads a target text {"policy": "to-all"|"to-group"|"to-target", "dst": [ids]}
// into target (its policy is set and dst appended to). Anything that is not
// such an object means ToAll: text that does not parse, an array root, an
// unknown or missing "policy". A "dst" that is not an array adds no ids.
// Returns false when the text did not parse as a JSON object.
bool parseTarget(const std::string& text, Target& target);
