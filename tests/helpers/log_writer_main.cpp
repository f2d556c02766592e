// A second process for the log tests. Its home directory comes from
// STREVON_HOME, which the spawning test sets.
//
//   log_writer_main write <tag> <count>   logs <count> numbered lines tagged <tag>
//   log_writer_main hold-mutex-and-die    takes the log mutex and exits holding it
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "infra/debug_logger.h"
#include "infra/mutex.h"
#include "strevon.h"

namespace {

int WriteLines(const char* tag, int count) {
  quorvel::DEVICE_INFO device;
  device.address = "10.0.0.1";
  device.port = 8080;
  quorvel::CDebugLogger logger;
  if (!logger.Open(device, "Strevon", nullptr)) return 2;
  // Long lines make a torn write visible.
  const std::string padding(200, 'x');
  for (int i = 0; i < count; ++i) {
    logger.WriteFormatted(4, "%s: writer %s line %05d %s", "quorvel::LogWriter::Run", tag, i,
                          padding.c_str());
  }
  return 0;
}

int HoldMutexAndDie() {
  quorvel::CMutex mutex("MUTEX_Strevon");
  if (!mutex.Lock()) return 3;
  // Leave without Unlock: the lock must go with the process.
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
    return WriteLines(argv[2], std::atoi(argv[3]));
  }
  if (argc == 2 && std::strcmp(argv[1], "hold-mutex-and-die") == 0) return HoldMutexAndDie();
  std::fprintf(stderr, "usage: %s write <tag> <count> | hold-mutex-and-die\n", argv[0]);
  return 1;
}
