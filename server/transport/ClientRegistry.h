#pragma once
// The live connections in accept order, indexed by id. Not locked itself:
// the server holds its registry lock around every call, from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/transport/TcpClient.h"

class ClientRegistry {
public:
    using Ptr = std::shared_ptr<TcpClient>;

    // Appends a newly accepted connection, which has no id yet.
    void add(const Ptr& conn);
    // Removes conn, keeping the order of the rest; false when it is not listed.
    bool remove(TcpClient* conn);
    // Sets conn's id. Another listed connection holding the same non-empty
    // id is removed and returned; conn itself never is.
    Ptr assignId(const Ptr& conn, const std::string& id);
    // The listed connection with this id; null for an unknown or empty id.
    // Every assignment removes the previous holder, so there is at most one.
    const Ptr& find(const std::string& id) const;
    const std::vector<Ptr>& all() const { return list; }
    // Empties the registry from the back.
    void clear();

private:
    std::vector<Ptr> list;  // ordered by seq, which is accept order
    std::unordered_map<std::string, Ptr> byId;
    uint64_t nextSeq = 0;
};
