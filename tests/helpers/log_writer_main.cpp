// A second process for the log tests (home directory from STREVON_HOME):
//   log_writer_main write <tag> <count> | hold-mutex-and-die
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "infra/debug_logger.h"
#include "infra/device_info.h"
#include "infra/mutex.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
    quorvel::DEVICE_INFO device;
    device.address = "10.0.0.1";
    device.port = 8080;
    quorvel::CDebugLogger logger;
    if (!logger.Open(device, "Strevon", nullptr)) return 2;
    const std::string padding(200, 'x');  // long lines make a torn write visible
    for (int i = 0; i < std::atoi(argv[3]); ++i) {
      logger.WriteFormatted(4, "%s: writer %s line %05d %s", "quorvel::LogWriter::Run", argv[2], i,
                            padding.c_str());
    }
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "hold-mutex-and-die") == 0) {
    quorvel::CMutex mutex("MUTEX_Strevon");
    if (!mutex.Lock()) return 3;
    _exit(0);  // without Unlock: the lock must go with the process
  }
  return 1;
}
