#include "split/SameName.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "split/UnicodeTables.h"
#include "wave/Utf8.h"

namespace corvella::split {
namespace {

void Append(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::uint32_t Lower(std::uint32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp - 'A' + 'a';
  const auto* end = std::end(kLowerCase);
  const auto* at = std::lower_bound(std::begin(kLowerCase), end, cp,
                                    [](const LowerCase& l, std::uint32_t c) { return l.from < c; });
  return at != end && at->from == cp ? at->to : cp;
}

void Decomposed(std::uint32_t cp, std::vector<std::uint32_t>& out) {
  const auto* end = std::end(kDecompositions);
  const auto* at =
      std::lower_bound(std::begin(kDecompositions), end, cp,
                       [](const Decomposition& d, std::uint32_t c) { return d.from < c; });
  if (at == end || at->from != cp) {
    out.push_back(cp);
    return;
  }
  for (std::uint32_t part : at->to) {
    if (part != 0) out.push_back(part);
  }
}

}  // namespace

std::string SameNameKey(const std::string& name) {
  std::string key;
  std::vector<std::uint32_t> points;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = wave::Utf8Length(name, at);
    if (length == 0) {
      key += name[at++];
      continue;
    }
    const auto byte = static_cast<unsigned char>(name[at]);
    std::uint32_t cp = length == 1 ? byte : byte & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(name[at + i]) & 0x3F);
    at += length;
    points.clear();
    Decomposed(cp, points);
    for (std::uint32_t point : points) Append(key, Lower(point));
  }
  return key;
}

}  // namespace corvella::split
