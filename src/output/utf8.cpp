#include "output/utf8.h"

#include <cstdint>
#include <cstring>

namespace vestrel {

namespace {

// The well-formed UTF-8 sequences by lead byte, and the range of the byte
// after it; any further bytes are 80..BF. The narrow ranges shut out
// overlong forms (E0, F0), surrogates (ED) and code points past U+10FFFF (F4).
struct Utf8Lead {
  uint8_t firstLead;
  uint8_t lastLead;
  size_t length;
  uint8_t secondLow;
  uint8_t secondHigh;
};

constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F},
    {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

const Utf8Lead* findUtf8Lead(uint8_t byte) {
  for (const Utf8Lead& lead : kUtf8Leads) {
    if (byte >= lead.firstLead && byte <= lead.lastLead) return &lead;
  }
  return nullptr;
}

}  // namespace

Utf8Character frontCharacter(std::string_view text) {
  const auto leadByte = static_cast<uint8_t>(text.front());
  const Utf8Lead* lead = findUtf8Lead(leadByte);
  if (lead == nullptr || text.size() < lead->length) return {0, 0};
  char32_t codePoint = leadByte & (0x7F >> lead->length);
  for (size_t index = 1; index < lead->length; ++index) {
    const auto byte = static_cast<uint8_t>(text[index]);
    const uint8_t low = index == 1 ? lead->secondLow : 0x80;
    const uint8_t high = index == 1 ? lead->secondHigh : 0xBF;
    if (byte < low || byte > high) return {0, 0};
    codePoint = codePoint << 6 | (byte & 0x3F);
  }
  return {lead->length, codePoint};
}

bool drivesTheTerminal(char32_t codePoint) {
  return (codePoint >= 0x80 && codePoint <= 0x9F) || (codePoint >= 0x202A && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069);
}

namespace {

constexpr uint64_t kEachByte = 0x0101010101010101ULL;
constexpr uint64_t kTopBits = kEachByte * 0x80;

// Some byte of word is zero (exactly when the result is not zero).
uint64_t hasZeroByte(uint64_t word) { return (word - kEachByte) & ~word & kTopBits; }

// Some byte of word stops the plain run: below 0x20 (it borrows its top bit
// from the subtraction), 0x7F or more (its top bit is set once 1 is added),
// or a quote or backslash when asked.
bool stopsTheRun(uint64_t word, bool quoteAndBackslashToo) {
  uint64_t stops = ((word - kEachByte * 0x20) & ~word & kTopBits) | ((word | (word + kEachByte)) & kTopBits);
  if (quoteAndBackslashToo) stops |= hasZeroByte(word ^ (kEachByte * '"')) | hasZeroByte(word ^ (kEachByte * '\\'));
  return stops != 0;
}

}  // namespace

size_t printableAsciiPrefix(std::string_view text, bool quoteAndBackslashToo) {
  size_t at = 0;
  // Eight bytes at a time while none of them stops the run.
  for (; at + sizeof(uint64_t) <= text.size(); at += sizeof(uint64_t)) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
    if (stopsTheRun(word, quoteAndBackslashToo)) break;
  }
  while (at < text.size() && isPrintableAscii(static_cast<uint8_t>(text[at]), quoteAndBackslashToo)) ++at;
  return at;
}

}  // namespace vestrel
