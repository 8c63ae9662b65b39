#include "server/transport/ClientRegistry.h"

#include <algorithm>

void ClientRegistry::add(const Ptr& conn) {
    conn->seq = nextSeq++;
    conn->listed = true;
    list.push_back(conn);
}

bool ClientRegistry::remove(TcpClient* conn) {
    if (!conn->listed) {
        return false;
    }
    auto it = std::lower_bound(list.begin(), list.end(), conn->seq,
                               [](const Ptr& c, uint64_t seq) { return c->seq < seq; });
    if (it == list.end() || it->get() != conn) {
        return false;
    }
    auto indexed = byId.find(conn->id);
    if (indexed != byId.end() && indexed->second.get() == conn) {
        byId.erase(indexed);
    }
    conn->listed = false;
    list.erase(it);
    return true;
}

ClientRegistry::Ptr ClientRegistry::assignId(const Ptr& conn, const std::string& id) {
    Ptr replaced;
    auto holder = id.empty() ? byId.end() : byId.find(id);
    if (holder != byId.end() && holder->second != conn) {
        replaced = holder->second;
        remove(replaced.get());
    }
    if (conn->listed) {
        auto old = byId.find(conn->id);
        if (old != byId.end() && old->second == conn) {
            byId.erase(old);
        }
        if (!id.empty()) {
            byId[id] = conn;
        }
    }
    conn->id = id;
    return replaced;
}

const ClientRegistry::Ptr& ClientRegistry::find(const std::string& id) const {
    static const Ptr none;
    if (id.empty()) {
        return none;
    }
    auto it = byId.find(id);
    return it == byId.end() ? none : it->second;
}

void ClientRegistry::clear() {
    byId.clear();
    while (!list.empty()) {
        list.back()->listed = false;
        list.pop_back();
    }
}
