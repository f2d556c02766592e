// strevon-host: a recording server's side of the Strevon driver, as a
// command-line tool. It loads libstrevon.so the way a host does and drives
// it through the public interfaces only: the capability query of the
// automatic search, live video, PTZ and digital I/O, and a live view of
// all of it in a browser.
#include <CLI/CLI.hpp>

#include "io_command.h"
#include "ptz_command.h"
#include "query_command.h"
#include "stream_command.h"
#include "tool_context.h"
#include "view_command.h"

#include <unistd.h>

#include <climits>
#include <string>

#ifndef STREVON_DEFAULT_LIBRARY
#define STREVON_DEFAULT_LIBRARY "libstrevon.so"
#endif

namespace {

// The driver built beside the tool; once installed (or unpacked from a
// package) the build tree is gone, and the plug-in lies at a fixed place
// relative to the tool.
std::string DefaultLibrary() {
  std::string path = STREVON_DEFAULT_LIBRARY;
#ifdef STREVON_INSTALLED_LIBRARY
  char self[PATH_MAX] = {0};
  if (::access(path.c_str(), F_OK) != 0 && ::readlink("/proc/self/exe", self, sizeof(self) - 1) > 0) {
    const std::string exe(self);
    const std::string installed = exe.substr(0, exe.rfind('/') + 1) + STREVON_INSTALLED_LIBRARY;
    if (::access(installed.c_str(), F_OK) == 0) path = installed;
  }
#endif
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace strevon::hosttool;
  CLI::App app{"strevon-host: load the Strevon driver as a recording server does and use it"};
  app.require_subcommand(1);
  CommonOptions common;
  common.libraryPath = DefaultLibrary();
  app.add_option("--lib", common.libraryPath, "the driver library to load")->capture_default_str();
  app.add_flag("--verbose,-v", common.verbose, "echo the driver's log records to stderr");
  QueryCommand query(app, common);
  StreamCommand stream(app, common);
  PtzCommand ptz(app, common);
  IoCommand io(app, common);
  ViewCommand view(app, common);
  // Options of the main app are also accepted after the subcommand name.
  for (CLI::App* sub : app.get_subcommands({})) sub->fallthrough();
  CLI11_PARSE(app, argc, argv);
  if (query.Selected()) return query.Run();
  if (stream.Selected()) return stream.Run();
  if (ptz.Selected()) return ptz.Run();
  if (io.Selected()) return io.Run();
  if (view.Selected()) return view.Run();
  return 2;
}
