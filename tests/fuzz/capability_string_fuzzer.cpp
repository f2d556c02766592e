// GetKeyValue and the PTZ capability string, which arrives in a channel's
// custom parameter written from Gateway data; GetKeyValue also reads the
// Gateway's version line.
//
// Input: four NUL-separated fields: text, key, assign, separators; the text
// also goes through CPtzCapabilities::FromString.
//
// Invariants: GetKeyValue returns (no endless search) a piece of the text
// without separators, and with the capability string's key and separators
// the value written; FromString then ToString is a fixed point whose
// dependent flags (center, unzoom, area zoom) hold only with what they
// depend on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/camera_record.h"
#include "fuzz_support.h"
#include "infra/text_helpers.h"

namespace {

using quorvel::CPtzCapabilities;

bool SameRecord(const CPtzCapabilities& a, const CPtzCapabilities& b) {
  return a.pan == b.pan && a.tilt == b.tilt && a.zoom == b.zoom && a.focus == b.focus &&
         a.iris == b.iris && a.areaZoom == b.areaZoom && a.center == b.center &&
         a.unzoom == b.unzoom && a.presetCount == b.presetCount;
}

void CheckKeyValue(const std::string& text, const std::string& key, const std::string& assign,
                   const std::string& separators) {
  const std::string value = quorvel::GetKeyValue(text, key, assign, separators);
  if (value.empty()) return;
  FUZZ_CHECK(!key.empty() && !assign.empty() && !separators.empty());
  FUZZ_CHECK(text.find(value) != std::string::npos);
  FUZZ_CHECK(value.find_first_of(separators) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzzing::InputReader input(data, size);
  const std::string text = input.Field();
  const std::string key = input.Field();
  const std::string assign = input.Field();
  const std::string separators = input.Field();

  CheckKeyValue(text, key, assign, separators);
  CheckKeyValue(text, key, "=", ", \t\r\n");
  CheckKeyValue(text, "Kalmeno", " ", "\r\n");

  CPtzCapabilities parsed;
  parsed.FromString(text);
  const std::string written = parsed.ToString();
  CPtzCapabilities reread;
  reread.FromString(written);
  FUZZ_CHECK(reread.ToString() == written);
  CPtzCapabilities expected = parsed;
  expected.center = parsed.center && (parsed.pan || parsed.tilt);
  expected.unzoom = parsed.unzoom && parsed.zoom;
  expected.areaZoom = parsed.areaZoom && parsed.zoom;
  FUZZ_CHECK(SameRecord(reread, expected));
  // Each flag's key in the written string holds exactly the digit written.
  FUZZ_CHECK(quorvel::GetKeyValue(written, "Pan", "=", ", \t\r\n") == (reread.pan ? "1" : "0"));
  FUZZ_CHECK(quorvel::GetKeyValue(written, "Preset", "=", ", \t\r\n") ==
             std::to_string(reread.presetCount));
  return 0;
}
