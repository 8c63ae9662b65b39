#include "server/core/SonavelServer.h"

#include "common/Logger.h"
#include "server/host/AppSettings.h"

SonavelServer::SonavelServer(uint16_t port) : TcpServer(port) {}

bool SonavelServer::run() {
    gLogger().logout("sonavel %s listening on port %u", getAppVersion().c_str(),
                     static_cast<unsigned>(localPort()));
    return TcpServer::run();
}

bool SonavelServer::onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
                          const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                          int32_t length) {
    if (TcpServer::onCmd(conn, connId, cmd, msg, binary, length)) {
        return true;
    }
    gLogger().logout("unhandled cmd: %s", cmd.c_str());
    return false;
}
