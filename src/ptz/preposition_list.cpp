#include "ptz/preposition_list.h"

#include <algorithm>

#include "infra/debug_interfaces.h"

namespace quorvel {

namespace {

constexpr const char* kAddPreposition = "quorvel::CPrepositionList::AddPreposition";
constexpr const char* kForbiddenCharacters = "&!<>'\"";

}  // namespace

CPrepositionList::CPrepositionList(std::uint32_t channel) : m_channel(channel) {}

CPrepositionList::~CPrepositionList() = default;

int CPrepositionList::GetCount() {
  CLockGuard guard(m_lock);
  return static_cast<int>(m_order.size());
}

bool CPrepositionList::GetNameAt(std::uint32_t position, std::string& name) {
  name.clear();
  try {
    CLockGuard guard(m_lock);
    return NameAtLocked(position, name);
  } catch (...) {
    return false;
  }
}

bool CPrepositionList::GetCurrentName(std::string& name) {
  name.clear();
  try {
    CLockGuard guard(m_lock);
    if (m_current < 0) return false;
    return NameAtLocked(static_cast<std::uint32_t>(m_current), name);
  } catch (...) {
    return false;
  }
}

bool CPrepositionList::GoToPreposition(const std::string& name, std::uint32_t speed) {
  try {
    if (name.empty()) return false;
    const int position = FindPosition(name);
    if (position < 0) return false;
    IPrepositionComm* comm = m_comm.load();
    if (comm == nullptr) return false;
    if (!comm->RecallPreset(static_cast<std::uint32_t>(position), name, speed)) return false;
    CLockGuard guard(m_lock);
    m_current = position;
    return true;
  } catch (...) {
    return false;
  }
}

int CPrepositionList::AddPreposition(const std::string& name) {
  try {
    IPrepositionComm* comm = m_comm.load();
    if (comm == nullptr) return kPtzNotPossible;
    if (!IsValidName(name)) {
      // Finished text: the name may hold a "%".
      const std::string text = std::string(kAddPreposition) + ": A preposition \"" + name +
                               "\" cannot be added - the name is invalid.";
      comm->DebugMessage(LOG_ERROR, "%s", text.c_str());
      return kPtzInvalidArgument;
    }
    const std::uint32_t count = static_cast<std::uint32_t>(GetCount());
    std::uint32_t limit = 0;
    {
      CLockGuard guard(m_lock);
      if (m_limit > count) {
        const bool canSave = comm->CanSavePresets();
        for (const auto& slot : m_slots) {
          if (!slot.second.empty() || !canSave) continue;
          if (!comm->SavePreset(slot.first, name)) continue;
          const std::uint32_t index = slot.first;
          m_slots[index] = name;
          m_order.push_back(index);
          m_current = FindPositionLocked(name);
          return kPtzOk;
        }
        return kPtzNotPossible;
      }
      limit = m_limit;
    }
    comm->DebugMessage(LOG_ERROR,
                       "%s: A preposition \"%s\" cannot be added. Camera supports saving not "
                       "more than %u prepositions.",
                       kAddPreposition, name.c_str(), static_cast<unsigned>(limit));
    return kPtzPresetListFull;
  } catch (...) {
    return kPtzNotPossible;
  }
}

bool CPrepositionList::DeletePreposition(const std::string& name) {
  try {
    IPrepositionComm* comm = m_comm.load();
    if (name.empty() || comm == nullptr) return false;
    const int position = FindPosition(name);
    if (position < 0) return false;
    if (!comm->CanDeletePresets()) return false;
    if (!comm->DeletePreset(static_cast<std::uint32_t>(position), name)) return false;
    CLockGuard guard(m_lock);
    for (auto& slot : m_slots) {
      if (slot.second != name) continue;
      slot.second.clear();
      const auto shown = std::find(m_order.begin(), m_order.end(), slot.first);
      if (shown != m_order.end()) {
        m_order.erase(shown);
        m_current = -1;
        return true;
      }
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool CPrepositionList::Refresh() {
  try {
    {
      CLockGuard guard(m_lock);
      m_slots.clear();
      m_order.clear();
      m_current = -1;
    }
    IPrepositionComm* comm = m_comm.load();
    if (comm == nullptr) return false;
    std::vector<PresetEntry> entries;
    if (!comm->LoadPresets(entries)) return false;
    CLockGuard guard(m_lock);
    for (const PresetEntry& entry : entries) {
      m_slots[entry.index] = entry.name;
      if (!entry.name.empty()) m_order.push_back(entry.index);
    }
    m_limit = static_cast<std::uint32_t>(m_order.size());
    return true;
  } catch (...) {
    return false;
  }
}

void CPrepositionList::ClearCurrent() {
  CLockGuard guard(m_lock);
  m_current = -1;
}

std::uint32_t CPrepositionList::GetLimit() {
  CLockGuard guard(m_lock);
  return m_limit;
}

bool CPrepositionList::IsValidName(const std::string& name) {
  return !name.empty() && name.find_first_of(kForbiddenCharacters) == std::string::npos;
}

bool CPrepositionList::NameAtLocked(std::uint32_t position, std::string& name) const {
  if (position >= m_order.size()) return false;
  const auto slot = m_slots.find(m_order[position]);
  if (slot == m_slots.end()) return false;
  name = slot->second;
  return true;
}

int CPrepositionList::FindPositionLocked(const std::string& name) const {
  for (const auto& slot : m_slots) {
    if (slot.second != name) continue;
    const auto shown = std::find(m_order.begin(), m_order.end(), slot.first);
    if (shown != m_order.end()) return static_cast<int>(shown - m_order.begin());
  }
  return -1;
}

int CPrepositionList::FindPosition(const std::string& name) {
  CLockGuard guard(m_lock);
  return FindPositionLocked(name);
}

}  // namespace quorvel
