// Several files from one fuzz input. Every part but the last is a two-byte
// length (big-endian) followed by that many bytes, cut short at the end of
// the input; the last part is whatever follows. The seed corpora are built
// the same way by fuzz/seeds.py, so mutations of a length move bytes from
// one file to the next, as a truncated or concatenated file would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> fuzz_parts(const uint8_t *data, size_t size, size_t n)
{
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t k = 0; k + 1 < n; k++) {
    size_t len = 0;
    if (at + 2 <= size) {
      len = static_cast<size_t>(data[at]) << 8 | data[at + 1];
      at += 2;
    } else
      at = size;
    if (len > size - at)
      len = size - at;
    parts.emplace_back(reinterpret_cast<const char *>(data + at), len);
    at += len;
  }
  parts.emplace_back(reinterpret_cast<const char *>(data + at), size - at);
  return parts;
}
