// CDebugInfo: the record the logger hands to the host's debug sink. Built on
// the logging thread's stack for one OnDebugInfo call; the host copies what
// it keeps, so the text pointer is valid only during that call.
#pragma once

#include <string>

#include "strevon.h"

namespace quorvel {

class CDebugInfo : public CDebugInfoIf {
 public:
  CDebugInfo(unsigned char level, const std::string& text) : m_level(level), m_text(text) {}
  virtual ~CDebugInfo() = default;
  STREVON_IMPLEMENT_SLOT0

  unsigned char GetLevel() const override { return m_level; }
  const char* GetText() const override { return m_text.c_str(); }

 private:
  unsigned char m_level;
  std::string m_text;
};

}  // namespace quorvel
