// printf formatting into a string of the right size, for expected output
// worded as the program's printf formats word it.
#pragma once

#include <cstdio>
#include <string>

namespace vestrel::test {

// The text is measured first, so it is never cut short.
template <typename... Values>
std::string printfText(const char* pattern, Values... values) {
  const int length = std::snprintf(nullptr, 0, pattern, values...);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  // The measured length fits: the second call cannot cut it short.
  static_cast<void>(std::snprintf(text.data(), text.size() + 1, pattern, values...));
  return text;
}

}  // namespace vestrel::test
