#include "clients/ctl/CtlOptions.h"

#include <charconv>

namespace {

const std::set<std::string> kValueOptions = {
    "type",    "start", "duration", "days", "target", "file", "text",
    "content", "desc",  "id",       "name", "groups", "role", "account-password-file"};
const std::set<std::string> kFlagOptions = {"weekly"};

bool toInt(const std::string& text, long lo, long hi, long& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= lo && value <= hi;
}

}  // namespace

std::string ctlUsage() {
    return "usage: sonavelctl [--host H] [--port P] [--user U] [--password-file F] [--json]\n"
           "                  [--timeout-ms N] COMMAND ...\n"
           "The password is read from the file F (first line) or from SONAVEL_PASSWORD.\n"
           "\n"
           "  endpoints list                        endpoints and whether they are online\n"
           "  endpoints remove ID...                forget endpoints\n"
           "  groups list\n"
           "  groups add ID NAME | rename ID NAME | delete ID | clear\n"
           "  groups add-members ID DEVID... | remove-members ID DEVID...\n"
           "  accounts list\n"
           "  accounts add USER --role ROLE [--groups G1,G2] --account-password-file F\n"
           "                                        add, or overwrite an existing account\n"
           "  accounts remove USER\n"
           "  accounts set-groups USER [G1,G2]\n"
           "  upload FILE [--name NAME]             skipped when the server has the file\n"
           "  schedules add --type audio|notice|shutdown|TYPE --start now|H:M[:S]\n"
           "                --duration SECONDS [--days mon,...|today|daily|weekdays|weekend]\n"
           "                [--weekly] [--target all|group:ID,...|endpoint:ID,...]\n"
           "                [--file NAME] [--text TEXT] [--content JSON] [--desc TEXT] [--id ID]\n"
           "  schedules list [--type TYPE]\n"
           "  schedules stop ID | delete ID\n"
           "  notices show | stop\n"
           "  watch                                 print presence and schedule events\n"
           "\n"
           "Tables for people by default, --json for scripts. Errors: one line on\n"
           "standard error and exit status 1 (2 for a bad command line).\n";
}

bool parseCtlOptions(int argc, char** argv, CtlOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            if (arg == "-h") {
                o.help = true;
            } else {
                o.words.push_back(arg);
            }
            continue;
        }
        const std::string name = arg.substr(2);
        if (name == "help") {
            o.help = true;
            continue;
        }
        if (name == "json") {
            o.json = true;
            continue;
        }
        if (kFlagOptions.count(name)) {
            o.flags.insert(name);
            continue;
        }
        const bool known = kValueOptions.count(name) || name == "host" || name == "port" ||
                           name == "user" || name == "password-file" || name == "timeout-ms";
        if (!known) {
            error = "unknown option: " + arg;
            return false;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        long n = 0;
        if (name == "host") {
            o.host = value;
        } else if (name == "user") {
            o.user = value;
        } else if (name == "password-file") {
            o.passwordFile = value;
        } else if (name == "port") {
            if (!toInt(value, 1, 65535, n)) {
                error = "--port: not a port number: " + value;
                return false;
            }
            o.port = static_cast<uint16_t>(n);
        } else if (name == "timeout-ms") {
            if (!toInt(value, 100, 600000, n)) {
                error = "--timeout-ms: not a number from 100 to 600000: " + value;
                return false;
            }
            o.timeoutMs = static_cast<int>(n);
        } else {
            o.values[name] = value;
        }
    }
    return true;
}
