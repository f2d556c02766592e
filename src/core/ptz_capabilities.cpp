// The capability string of CPtzCapabilities: nine "key=value" pairs joined by
// ", ". Zoom is written before AreaZoom and Unzoom because the reader finds
// keys by substring, so "Zoom" would otherwise match inside "AreaZoom".
#include "core/camera_record.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr const char* kAssign = "=";
constexpr const char* kSeparators = ", \t\r\n";

bool ReadFlag(const std::string& text, const char* key) {
  return GetKeyValue(text, key, kAssign, kSeparators) == "1";
}

}  // namespace

std::string CPtzCapabilities::ToString() const {
  const bool writtenCenter = center && (pan || tilt);
  const bool writtenUnzoom = unzoom && zoom;
  const bool writtenAreaZoom = areaZoom && zoom;
  return FormatString("Pan=%d, Tilt=%d, Zoom=%d, Focus=%d, Iris=%d, Center=%d, Unzoom=%d, "
                      "AreaZoom=%d, Preset=%u",
                      pan ? 1 : 0, tilt ? 1 : 0, zoom ? 1 : 0, focus ? 1 : 0, iris ? 1 : 0,
                      writtenCenter ? 1 : 0, writtenUnzoom ? 1 : 0, writtenAreaZoom ? 1 : 0,
                      static_cast<unsigned>(presetCount));
}

void CPtzCapabilities::FromString(const std::string& text) {
  pan = ReadFlag(text, "Pan");
  tilt = ReadFlag(text, "Tilt");
  zoom = ReadFlag(text, "Zoom");
  focus = ReadFlag(text, "Focus");
  iris = ReadFlag(text, "Iris");
  areaZoom = ReadFlag(text, "AreaZoom");
  center = ReadFlag(text, "Center");
  unzoom = ReadFlag(text, "Unzoom");
  const std::string presets = GetKeyValue(text, "Preset", kAssign, kSeparators);
  presetCount = presets.empty() ? 0u : static_cast<std::uint32_t>(ParseLeadingInt(presets));
}

}  // namespace quorvel
