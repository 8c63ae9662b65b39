#include "config/Addresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "common/TextUtil.h"

bool isShownAddress(const std::string& address) {
    return address != "0.0.0.0" && address != "127.0.0.1" && address.compare(0, 4, "169.") != 0;
}

std::vector<std::string> getLocalAddresses() {
    std::vector<std::string> list;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) {
        return list;
    }
    for (const ifaddrs* it = all; it; it = it->ifa_next) {
        const unsigned up = IFF_UP | IFF_RUNNING;
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || (it->ifa_flags & up) != up) {
            continue;
        }
        const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        std::string text = ip2string(in->sin_addr.s_addr);
        if (isShownAddress(text)) {
            list.push_back(text);
        }
    }
    freeifaddrs(all);
    return list;
}

std::string joinAddresses(const std::vector<std::string>& addresses) {
    std::string text;
    for (size_t i = 0; i < addresses.size(); ++i) {
        text += addresses[i];
        if (i + 1 < addresses.size()) {
            text += ";";
        }
        if (i != 0 && i % 2 == 0) {
            text += "\n";
        }
    }
    return text;
}
