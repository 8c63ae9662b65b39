#include "config/StartMode.h"

#include <cstring>

#include "config/ConfigDatabase.h"
#include "config/ConfigSettings.h"
#include "config/Language.h"
#include "config/ServerControl.h"

namespace {

std::string tr(const char* text) {
    return translate(text, translationSectionKey());
}

}  // namespace

StartMode parseStartMode(int argc, const char* const* argv) {
    static const struct {
        const char* option;
        StartMode mode;
    } options[] = {
        {"--start", StartMode::Start},
        {"--status", StartMode::Status},
        {"--stop", StartMode::Stop},
        {"--reset-password", StartMode::ResetPassword},
    };
    for (int i = 1; i < argc; ++i) {
        for (const auto& o : options) {
            if (std::strcmp(argv[i], o.option) == 0) {
                return o.mode;
            }
        }
    }
    return StartMode::Dialog;
}

int runHeadless(StartMode mode, ServerControl& control, std::ostream& out) {
    bool ok = false;
    switch (mode) {
        case StartMode::Start:
            ok = control.start();
            out << tr(ok ? "正在启动服务" : "服务启动失败") << "\n";
            break;
        case StartMode::Status:
            ok = control.isRunning();
            out << tr(ok ? "服务正在运行" : "服务已停止") << "\n";
            break;
        case StartMode::Stop:
            control.stopServerAndNginx();
            // A clean stop may take the server a moment longer than the dialog waits.
            ok = control.waitUntilStopped(3000);
            out << tr(ok ? "服务已停止" : "服务正在运行") << "\n";
            break;
        case StartMode::ResetPassword:
            ok = resetAdminPassword(databasePath(getDocDir()));
            out << tr(ok ? "密码重置成功" : "密码重置失败") << "\n";
            break;
        case StartMode::Dialog:
            break;
    }
    return ok ? 0 : 1;
}
