// IPrepositionComm: what a preset list (CPrepositionList) needs from its
// channel's command channel: saving, recalling, deleting and loading presets,
// and the channel's log call. PresetEntry: one preset as LoadPresets reports
// it.
//
// The command channel implements it and owns nothing of the list; the list
// holds a non-owning pointer for as long as its control object keeps both.
// Called on host threads (the preset list's callers). A channel that cannot
// save or delete presets says so with CanSavePresets/CanDeletePresets, and
// the list then does not call SavePreset/DeletePreset at all.
//
// The log call (IDebugMessage, a virtual base) formats the line itself and
// forwards the finished text, so a preset name or a Gateway text that holds
// a "%" reaches the log unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "infra/debug_interfaces.h"

namespace quorvel {

struct PresetEntry {
  std::string name;
  std::uint32_t index = 0;
};

class IPrepositionComm : public virtual IDebugMessage {
 public:
  ~IPrepositionComm() override = default;

  virtual bool SavePreset(std::uint32_t index, const std::string& name) = 0;
  virtual bool RecallPreset(std::uint32_t position, const std::string& name,
                            std::uint32_t speed) = 0;
  virtual bool DeletePreset(std::uint32_t index, const std::string& name) = 0;
  // Appends the channel's presets to list; false when they cannot be had.
  virtual bool LoadPresets(std::vector<PresetEntry>& list) = 0;

  virtual bool CanSavePresets() const = 0;
  virtual bool CanDeletePresets() const = 0;
};

}  // namespace quorvel
