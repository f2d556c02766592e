// strevon-soak: see soak_run.h. Exit status 0 when every check held, 1 when
// one failed, 2 when the run could not be set up or the arguments are wrong.
#include <cstdio>
#include <string>

#include "soak_options.h"
#include "soak_report.h"
#include "soak_run.h"

int main(int argc, char** argv) {
  strevon::soak::SoakOptions options;
  int exitCode = 0;
  if (!strevon::soak::ParseSoakOptions(argc, argv, &options, &exitCode)) return exitCode;
  strevon::soak::SoakResult result;
  std::string error;
  {
    strevon::soak::SoakRun run(options);
    if (!run.Run(&result, &error)) {
      std::fprintf(stderr, "soak: %s\n", error.c_str());
      return 2;
    }
  }
  strevon::soak::PrintReport(result, stdout);
  return result.Passed() ? 0 : 1;
}
