#pragma once
// The application server on the message server. Until the application
// commands are added it answers none of them: each is logged and dropped,
// while the built-in commands and heartbeats already work. Constructed and
// run by main; every handler runs on the event-loop thread.

#include <cstdint>

#include "server/transport/TcpServer.h"

class SonavelServer : public TcpServer {
public:
    explicit SonavelServer(uint16_t port);

    // Runs the event loop on the calling thread until stop().
    bool run() override;
    bool onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
               const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
               int32_t length) override;
};
