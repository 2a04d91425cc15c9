#pragma once
// Command line of qk4820-sim.
#include <string>
#include <vector>

#include "sim/SimCore.h"

struct TSimOptions {
  TSimConfig Config;
  std::string Link;   // --link PATH: symbolic link to the pty
  std::string Log;    // --log FILE: every received frame, one hex line each
  std::string Trace;  // --trace FILE: timing trace
  bool Help = false;
};

// Parses args (without the program name). On failure returns false and sets
// error to a one-line message naming the offending option.
bool ParseSimOptions(const std::vector<std::string>& args, TSimOptions& options, std::string& error);

// Text of --help.
std::string SimUsage();
