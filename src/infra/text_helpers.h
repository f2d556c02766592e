// Stateless text functions shared by the whole driver. Their edge behaviour
// (what counts as a number, how pieces are split, how keys are found) is
// relied on by the message parser, the settings, the profile and the
// custom parameters, so it is fixed here once. All text is UTF-8
// std::string. Safe to call from any thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

// printf-style formatting; "" when the buffer cannot be allocated.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args);

// Strict decimal parse: optional single "+" or "-", then digits only, not
// empty. On failure value is 0 and the result false.
bool ParseInt(std::string_view text, int& value);

// "%ux%u": (width, height), or (0, 0) unless both numbers were read.
std::pair<std::uint32_t, std::uint32_t> ParseResolution(std::string_view text);

// Leading decimal integer: leading blanks skipped, optional sign, digits up
// to the first other character; no digits give 0 ("3.0" gives 3).
int ParseLeadingInt(const std::string& text);

// The same leading integer read as a count or a length: a negative value
// gives 0 and one past 32 bits the largest u32 (ParseLeadingInt wraps both
// modulo 2^32, so either may come out with the wrong sign).
std::uint32_t ParseLeadingUint(const std::string& text);

// Pieces between delimiters as successive getline calls produce them: an
// empty text gives none, a trailing delimiter adds no empty piece, inner and
// leading empty pieces stay.
std::vector<std::string> Split(const std::string& text, char delimiter);

// Value of key in a flat "key<assign>value<separator>..." text; the key is
// found by substring search (so "Zoom" matches inside "AreaZoom").
std::string GetKeyValue(const std::string& text, const std::string& key,
                        const std::string& assign, const std::string& separators);

// Without leading and trailing blanks and tabs.
std::string Trim(const std::string& text);

// Lower-case copy; only A to Z change.
std::string ToLower(const std::string& text);

}  // namespace quorvel
