// CPrepositionList: the presets of one PTZ channel as the host sees them:
// numbered slots with names (an empty name is a free slot), the order in
// which the named ones are shown (host position p means order[p]), how many
// may be named (the limit, set by Refresh), and the preset the camera was
// last sent to (current, -1 for none).
//
// Ownership: a member of the channel's control object; it holds the channel's
// command channel as a non-owning IPrepositionComm, set by the control's
// Initialize, and logs through it.
//
// Threads: host threads, several at a time. The containers and current are
// touched only under m_lock; calls into the comm are made outside it, except
// SavePreset, which AddPreposition calls while holding it so that a slot is
// not claimed twice. Nothing throws out of it: failures are false or a code.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "infra/recursive_lock.h"
#include "ptz/preposition_comm.h"

namespace quorvel {

class CPrepositionList {
 public:
  explicit CPrepositionList(std::uint32_t channel);
  virtual ~CPrepositionList();

  CPrepositionList(const CPrepositionList&) = delete;
  CPrepositionList& operator=(const CPrepositionList&) = delete;

  // The number of named presets.
  virtual int GetCount();
  // False (name emptied) when position is not below the count.
  virtual bool GetNameAt(std::uint32_t position, std::string& name);
  // False when no preset is current.
  virtual bool GetCurrentName(std::string& name);
  // Recalls the first preset (by slot index) with exactly this name; on
  // success it becomes current.
  virtual bool GoToPreposition(const std::string& name, std::uint32_t speed);
  // 1 added (and current), -3 invalid name, -18 no comm or no slot could be
  // saved, -26 the list is full. Both refusals are logged at error level.
  virtual int AddPreposition(const std::string& name);
  virtual bool DeletePreposition(const std::string& name);

  // Empties the list, then fills it from the comm's LoadPresets; the limit
  // becomes the number of named presets. False without a comm or when the
  // comm fails (the list stays empty).
  bool Refresh();
  void ClearCurrent();

  void SetComm(IPrepositionComm* comm) { m_comm.store(comm); }
  std::uint32_t GetLimit();
  std::uint32_t GetChannel() const { return m_channel; }

  // Not empty, and none of & ! < > ' " (the Gateway's XML cannot carry them).
  static bool IsValidName(const std::string& name);

 private:
  // Position of the first slot (by index) named name whose index is shown;
  // -1 when there is none.
  int FindPositionLocked(const std::string& name) const REQUIRES(m_lock);
  int FindPosition(const std::string& name);
  bool NameAtLocked(std::uint32_t position, std::string& name) const REQUIRES(m_lock);

  const std::uint32_t m_channel;
  std::atomic<IPrepositionComm*> m_comm{nullptr};

  CRecursiveLock m_lock;
  std::uint32_t m_limit GUARDED_BY(m_lock) = 0;
  int m_current GUARDED_BY(m_lock) = -1;
  std::map<std::uint32_t, std::string> m_slots GUARDED_BY(m_lock);
  std::vector<std::uint32_t> m_order GUARDED_BY(m_lock);
};

}  // namespace quorvel
