#pragma once

#include <cstdio>
#include <string>

namespace lorvanta {

// Writes one console line in a single call and flushes it, so lines from two threads
// never run into each other.
inline void printLine(const std::string& line, std::FILE* stream = stdout) {
  const std::string text = line + '\n';
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace lorvanta
