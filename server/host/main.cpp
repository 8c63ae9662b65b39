// The server process: one copy per user, crash report on the way out,
// folders, the web server, then the message server until SIGTERM or SIGINT.
// Main thread.

#include <signal.h>
#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <boost/asio/signal_set.hpp>
#include <cstdio>
#include <exception>
#include <memory>

#include "common/Logger.h"
#include "common/Platform.h"
#include "server/core/SonavelServer.h"
#include "server/host/AppSettings.h"
#include "server/host/CrashHandler.h"
#include "server/host/NginxCompanion.h"
#include "server/host/SingleInstance.h"

namespace {

void setStopSignalsBlocked(bool blocked) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

}  // namespace

int main() {
    // Only memory is touched here, so a second copy still leaves no trace.
    CrashHandler::install(getAppDir() + "/sonavel.dmp");

    SingleInstance instance;
    if (!instance.acquire()) {
        std::fputs("app ALREADY_EXISTS\n", stdout);
        return 1;
    }

    // Single level each; a folder that exists or cannot be made is not an
    // error here, the file operations that need it report their own.
    mkdir(getDocDir().c_str(), 0777);
    mkdir(getFilesDir().c_str(), 0777);

    // A running web server is left as it is, settings and all.
    if (!isNginxRunning() && !startNginx(getFilesDir(), getHttpPort())) {
        return 1;
    }

    avformat_network_init();
    // A peer that goes away mid-write is a socket error, not a process exit.
    // Set after the web server started, which must not inherit it.
    signal(SIGPIPE, SIG_IGN);

    // A stop request that arrives while the server is being built waits until
    // the event loop can take it, so it still ends in a clean exit.
    setStopSignalsBlocked(true);
    std::unique_ptr<SonavelServer> server;
    try {
        server = std::make_unique<SonavelServer>(getPort());
    } catch (const std::exception& e) {
        gLogger().logout("server start failed: %s", e.what());
        return 1;
    }
    {
        boost::asio::signal_set stopSignals(server->ioContext(), SIGTERM, SIGINT);
        stopSignals.async_wait([&server](const boost::system::error_code& error, int sig) {
            if (!error) {
                gLogger().logout("signal %d: stopping", sig);
                server->stop();
            }
        });
        setStopSignalsBlocked(false);
        server->run();
    }
    server.reset();
    avformat_network_deinit();
    return 0;
}
