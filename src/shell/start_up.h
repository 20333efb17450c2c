#pragma once

namespace tallowcrest {

// The program: the command line, the splash, then every part made once and
// the main window shown; returns the exit status.
int Main(int argc, char** argv);

}  // namespace tallowcrest
