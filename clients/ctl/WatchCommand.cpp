// watch: one line per presence or schedule event until interrupted.

#include <ctime>
#include <iostream>

#include "clients/ctl/CtlCommands.h"
#include "clients/ctl/CtlOutput.h"
#include "common/Platform.h"

namespace {

std::string wallClock() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// The line for an event, empty for traffic that is not an event.
std::string describe(const ClientMessage& m) {
    const std::string id = jsonText(m.msg, "id");
    if (m.cmd == "notify-connected") {
        return "endpoint " + jsonText(m.msg, "devId") + " (" + jsonText(m.msg, "devName") +
               ") online";
    }
    if (m.cmd == "notify-disconnected") {
        return "endpoint " + m.src + " offline";
    }
    if (m.cmd == "update-schedule-state") {
        return "schedule " + id + " " + jsonText(m.msg, "state");
    }
    if (m.cmd == "do-schedule") {
        return "schedule " + id + " started (" + jsonText(m.msg, "type") + ")";
    }
    if (m.cmd == "stop-schedule") {
        return "schedule " + id + " stopped";
    }
    if (m.cmd == "response-delete-schedule") {
        return "schedule " + id + " deleted";
    }
    if (m.cmd == "stop-notice") {
        return "notices stopped";
    }
    return "";
}

}  // namespace

int runWatchCommand(CtlContext& ctx, const std::atomic<bool>& stop) {
    std::cerr << "watching " << ctx.options.host << ":" << ctx.options.port << " (Ctrl-C ends)"
              << std::endl;
    ClientMessage m;
    while (!stop) {
        switch (ctx.client.next(200, m)) {
            case ClientConnection::ReadStatus::Message: {
                const std::string line = describe(m);
                if (line.empty()) {
                    break;
                }
                if (ctx.options.json) {
                    Json::Value event;
                    event["event"] = m.cmd;
                    event["msg"] = m.msg;
                    event["src"] = m.src;
                    Json::StreamWriterBuilder b;
                    b["indentation"] = "";
                    std::cout << Json::writeString(b, event) << std::endl;
                } else {
                    std::cout << wallClock() << " " << line << std::endl;
                }
                break;
            }
            case ClientConnection::ReadStatus::Timeout:
                // The server sends a heartbeat every second.
                if (gettime2() - ctx.client.lastFrameMs() > 5000) {
                    return fail("no heartbeat from the server for 5 s");
                }
                break;
            case ClientConnection::ReadStatus::Closed:
            case ClientConnection::ReadStatus::Malformed:
                return fail("the server closed the connection");
        }
    }
    return 0;
}
