#pragma once
// The tool's process start: a headless task, or the dialog in the chosen
// language. Main thread.

class CSonavelConfigApp {
public:
    // Returns the process exit status.
    int InitInstance(int argc, char** argv);
};
