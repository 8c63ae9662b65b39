#include "config/SonavelConfigApp.h"

int main(int argc, char** argv) {
    CSonavelConfigApp app;
    return app.InitInstance(argc, argv);
}
