#pragma once
// The program's only command-line options, answered without a window:
//   --diagnose  the settings file, the port mappings, the serial devices and
//               whether the configured port opens (exit 0 when it does)
//   --version   the program's name and version
//   --help      these lines
// Any other argument is refused with a message and exit status 2.

// Whether argv holds an option (anything beyond the program's name).
bool HasCommandLine(int argc, char** argv);
// Answers the option; the exit status.
int RunCommandLine(int argc, char** argv);
