#pragma once
// The command line of sonavelctl: connection options, the subcommand's words
// and its own options, which may stand anywhere on the line. Main thread.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct CtlOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 37891;
    std::string user = "admin";
    std::string passwordFile;
    int timeoutMs = 5000;
    bool json = false;
    bool help = false;
    std::vector<std::string> words;             // subcommand and its arguments
    std::map<std::string, std::string> values;  // --type now ... -> "type" -> "now"
    std::set<std::string> flags;                // --weekly -> "weekly"

    std::string value(const std::string& name, const std::string& fallback = "") const {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    bool has(const std::string& name) const { return values.count(name) > 0; }
};

bool parseCtlOptions(int argc, char** argv, CtlOptions& options, std::string& error);
std::string ctlUsage();
