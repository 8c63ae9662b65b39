// sonavelctl: the manager's command line for a Sonavel server. Main thread.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "clients/common/PasswordDigest.h"
#include "clients/ctl/CtlCommands.h"
#include "clients/ctl/CtlOptions.h"
#include "clients/ctl/CtlOutput.h"
#include "clients/ctl/ManagerClient.h"

namespace {

std::atomic<bool> gStop{false};

void onStopSignal(int) {
    gStop = true;
}

bool readPassword(const CtlOptions& o, std::string& password, std::string& error) {
    if (!o.passwordFile.empty()) {
        std::ifstream in(o.passwordFile);
        if (!in || !std::getline(in, password)) {
            error = "cannot read the password file " + o.passwordFile;
            return false;
        }
        if (!password.empty() && password.back() == '\r') {
            password.pop_back();
        }
        return true;
    }
    if (const char* env = std::getenv("SONAVEL_PASSWORD")) {
        password = env;
        return true;
    }
    error = "no password: give --password-file F or set SONAVEL_PASSWORD";
    return false;
}

std::string connectionId() {
    char host[128] = {};
    gethostname(host, sizeof host - 1);
    return "sonavelctl-" + std::string(host) + "-" + std::to_string(getpid());
}

}  // namespace

int main(int argc, char** argv) {
    CtlOptions options;
    std::string error;
    if (!parseCtlOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "sonavelctl: %s (see sonavelctl --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ctlUsage().c_str(), stdout);
        return 0;
    }
    error = checkCtlCommand(options.words);
    if (!error.empty()) {
        std::fprintf(stderr, "sonavelctl: %s (see sonavelctl --help)\n", error.c_str());
        return 2;
    }
    std::string password;
    if (!readPassword(options, password, error)) {
        return fail(error);
    }
    signal(SIGPIPE, SIG_IGN);

    ManagerClient client(options.timeoutMs);
    if (!client.open(options.host, options.port, connectionId(), error) ||
        !client.login(options.user, passwordDigest(password), error)) {
        return fail(error);
    }
    const std::string family = options.words[0];
    CtlContext ctx{client, options, {options.words.begin() + 1, options.words.end()}};
    if (family == "endpoints") {
        return runEndpointCommand(ctx);
    }
    if (family == "groups") {
        return runGroupCommand(ctx);
    }
    if (family == "accounts") {
        return runAccountCommand(ctx);
    }
    if (family == "upload") {
        return runUploadCommand(ctx);
    }
    if (family == "schedules") {
        return runScheduleCommand(ctx);
    }
    if (family == "notices") {
        return runNoticeCommand(ctx);
    }
    // Only watch runs until it is told to stop; every other command ends by
    // itself and keeps the default reaction to Ctrl-C.
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    return runWatchCommand(ctx, gStop);
}
