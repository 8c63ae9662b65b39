#pragma once
// What the tool does when started: show the dialog, or one task without any
// window. Decided from the command line before any GUI object exists, so
// the headless tasks need no display. Main thread.

#include <ostream>

class ServerControl;

enum class StartMode { Dialog, Start, Status, Stop, ResetPassword };

// The first of "--start", "--status", "--stop", "--reset-password" among
// the arguments after the program name; Dialog when none is there.
StartMode parseStartMode(int argc, const char* const* argv);

// Runs a headless task and prints its one line to out, in the loaded
// language. Exit status: 0 done (server running for Status and Start,
// stopped for Stop, password reset), 1 otherwise.
int runHeadless(StartMode mode, ServerControl& control, std::ostream& out);
