// CWorkItem: one queued PTZ command. Created with new by the poster; the
// queue owns it once posted and destroys it after handling.
#pragma once

#include <cstdint>

namespace quorvel {

class CWorkItem {
 public:
  CWorkItem() = default;
  CWorkItem(std::uint32_t command_, std::uint32_t action_, std::uintptr_t params_,
            std::uint32_t speed_, std::uint32_t arg1_ = 0, std::uint32_t arg2_ = 0,
            std::uint32_t arg3_ = 0)
      : command(command_), action(action_), params(params_), speed(speed_), arg1(arg1_),
        arg2(arg2_), arg3(arg3_) {}
  virtual ~CWorkItem() = default;

  std::uint32_t command = 0;
  std::uint32_t action = 0;
  std::uintptr_t params = 0;  // pointer-sized
  std::uint32_t speed = 0;
  std::uint32_t arg1 = 0;
  std::uint32_t arg2 = 0;
  std::uint32_t arg3 = 0;
};

}  // namespace quorvel
