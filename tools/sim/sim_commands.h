// The text commands of the stand-alone simulator (one per stdin line), kept
// apart from main so that tests can drive them directly.
#pragma once

#include <string>

#include "gateway_simulator.h"

namespace strevon {
namespace sim {

struct CommandResult {
  std::string reply;  // "ok ...", "error ...", or JSON for "stats"
  bool quit = false;
};

// Runs one command line against sim. Blank lines and lines starting with '#'
// give an empty reply.
CommandResult RunCommand(GatewaySimulator& sim, const std::string& line);

// One line per command, for "help" and the documentation.
std::string CommandHelp();

}  // namespace sim
}  // namespace strevon
