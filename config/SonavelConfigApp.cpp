#include "config/SonavelConfigApp.h"

#include <unistd.h>

#include <QApplication>
#include <iostream>

#include "common/Platform.h"
#include "config/ConfigSettings.h"
#include "config/Language.h"
#include "config/LanguageFile.h"
#include "config/ServerControl.h"
#include "config/SonavelConfigDlg.h"
#include "config/StartMode.h"

namespace {

// The language file path is relative: the tool runs in the program folder.
void loadChosenLanguage() {
    loadLanguage(languageFilePath(getCompatibleLanguageName(mapLanguageTag(storedLanguage()))));
}

}  // namespace

int CSonavelConfigApp::InitInstance(int argc, char** argv) {
    const std::string appDir = getAppDir();
    // The server finds its web server configuration relative to this folder.
    if (chdir(appDir.c_str()) != 0) {
        std::cerr << "cannot enter " << appDir << "\n";
    }
    ServerControl control(appDir);
    // Decided before any GUI object exists, so these need no display.
    StartMode mode = parseStartMode(argc, argv);
    if (mode != StartMode::Dialog) {
        loadChosenLanguage();
        return runHeadless(mode, control, std::cout);
    }
    QApplication app(argc, argv);
    loadChosenLanguage();
    CSonavelConfigDlg dialog(control);
    dialog.exec();
    return 0;
}
