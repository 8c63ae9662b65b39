#pragma once
// One logged-in endpoint. Network thread.

#include <string>
#include <vector>

struct _Endpoint {
    std::string devId;
    std::string devName;
    // Ids of the groups whose members include devId.
    std::vector<std::string> groups;
};
