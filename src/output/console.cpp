#include "output/console.h"

#include <link.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

namespace {

FILE* consoleStream = nullptr;

using console_detail::pending;

FILE* consoleTarget() { return consoleStream != nullptr ? consoleStream : stdout; }

// The reason the first write or flush of the console failed, 0 while none
// has. After a failed flush the C library drops what it held and the next
// flush succeeds, so the failure must be remembered when it happens.
int firstFailure = 0;

void noteFailure(bool failed) {
  if (failed && firstFailure == 0) firstFailure = errno != 0 ? errno : EIO;
}

// False when the stream took less than all of it.
bool writePending() {
  if (pending.empty()) return true;
  const bool written = std::fwrite(pending.data(), 1, pending.size(), consoleTarget()) == pending.size();
  pending.truncate(0);
  noteFailure(!written);
  return written;
}

// One conversion of a printf format, as far as this program uses them:
// the flags - and 0, a width, a precision, and s, c, d, u, x, X or %.
struct Conversion {
  bool leftAlign = false;
  bool zeroPad = false;
  size_t width = 0;
  bool hasPrecision = false;
  size_t precision = 0;
  char kind = '\0';
};

bool isDigit(char character) { return character >= '0' && character <= '9'; }

size_t readCount(const char*& cursor) {
  size_t count = 0;
  while (isDigit(*cursor)) count = count * 10 + static_cast<size_t>(*cursor++ - '0');
  return count;
}

bool isHandledKind(char kind) {
  switch (kind) {
    case 's':
    case 'c':
    case 'd':
    case 'u':
    case 'x':
    case 'X':
    case '%': return true;
    default: return false;
  }
}

// Reads the conversion after a '%'; false for anything else (length
// modifiers, other flags and kinds), which the C library then formats.
bool readConversion(const char*& cursor, Conversion& conversion) {
  for (;; ++cursor) {
    if (*cursor == '-') {
      conversion.leftAlign = true;
    } else if (*cursor == '0') {
      conversion.zeroPad = true;
    } else {
      break;
    }
  }
  conversion.width = readCount(cursor);
  if (*cursor == '.') {
    ++cursor;
    conversion.hasPrecision = true;
    conversion.precision = readCount(cursor);
  }
  conversion.kind = *cursor;
  if (!isHandledKind(conversion.kind)) return false;
  ++cursor;
  return true;
}

// sign, then body, padded to the width with spaces (either side) or with
// zeros between sign and body.
void appendPadded(const Conversion& conversion, std::string_view sign, std::string_view body, char padding) {
  const size_t length = sign.size() + body.size();
  const size_t fill = conversion.width > length ? conversion.width - length : 0;
  if (fill == 0 && sign.empty()) {  // most values: nothing around them
    pending.append(body.data(), body.size());
    return;
  }
  if (fill != 0 && !conversion.leftAlign && padding == ' ') pending.append(fill, ' ');
  pending.append(sign.data(), sign.size());
  if (fill != 0 && !conversion.leftAlign && padding == '0') pending.append(fill, '0');
  pending.append(body.data(), body.size());
  if (fill != 0 && conversion.leftAlign) pending.append(fill, ' ');
}

// A %s's text, cut to its precision.
void appendText(const Conversion& conversion, std::string_view text) {
  if (conversion.hasPrecision) text = text.substr(0, conversion.precision);
  appendPadded(conversion, "", text, ' ');
}

// The digits of value, none for a zero, written backwards from end; returns
// how many. Each base divides by its constant, which the compiler turns
// into shifts and multiplications.
template <typename Number>
size_t writeDigits(char* end, Number value, char kind) {
  static constexpr char kUpperDigits[] = "0123456789ABCDEF";
  static constexpr char kLowerDigits[] = "0123456789abcdef";
  char* cursor = end;
  if (kind == 'x' || kind == 'X') {
    const char* digitSet = kind == 'x' ? kLowerDigits : kUpperDigits;
    for (; value != 0; value /= 16) *--cursor = digitSet[value % 16];
  } else {
    for (; value != 0; value /= 10) *--cursor = static_cast<char>('0' + value % 10);
  }
  return static_cast<size_t>(end - cursor);
}

void appendNumber(const Conversion& conversion, unsigned long long value, bool negative) {
  // Precision is the least number of digits; a zero shown with precision 0
  // is no digit at all. Larger precisions than fit are cut, as none is used.
  constexpr size_t kMostDigits = 64;
  char digits[kMostDigits];
  // The fields' numbers are 32-bit: their digits are cheaper to find so.
  size_t count = value <= UINT32_MAX ? writeDigits(digits + kMostDigits, static_cast<uint32_t>(value), conversion.kind)
                                     : writeDigits(digits + kMostDigits, value, conversion.kind);
  const size_t leastDigits = std::min(conversion.hasPrecision ? conversion.precision : 1, kMostDigits);
  while (count < leastDigits) digits[kMostDigits - 1 - count++] = '0';
  const char padding = conversion.zeroPad && !conversion.hasPrecision ? '0' : ' ';
  appendPadded(conversion, negative ? "-" : "", std::string_view(digits + kMostDigits - count, count), padding);
}

// Appends one conversion's text, taking its argument.
void appendConversion(const Conversion& conversion, va_list& arguments) {
  switch (conversion.kind) {
    case '%': pending.append(1, '%'); return;
    case 'c': {
      const char character = static_cast<char>(va_arg(arguments, int));
      appendPadded(conversion, "", std::string_view(&character, 1), ' ');
      return;
    }
    case 's': {
      const char* text = va_arg(arguments, const char*);
      const size_t length = conversion.hasPrecision ? strnlen(text, conversion.precision) : std::strlen(text);
      appendText(conversion, std::string_view(text, length));
      return;
    }
    case 'd': {
      const long long value = va_arg(arguments, int);
      const bool negative = value < 0;
      appendNumber(conversion, static_cast<unsigned long long>(negative ? -value : value), negative);
      return;
    }
    default: appendNumber(conversion, va_arg(arguments, unsigned), false); return;
  }
}

// Formats with the C library, for what appendConversion does not handle.
void appendWithLibrary(const char* format, va_list arguments) {
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  if (length <= 0) return;
  const auto count = static_cast<size_t>(length);
  va_list writing;
  va_copy(writing, arguments);
  const int written = std::vsnprintf(pending.room(count + 1), count + 1, format, writing);
  va_end(writing);
  if (written == length) pending.commit(count);
}

// The program's own read-only memory, where its literal formats live:
// what lies there cannot change while it runs.
struct MemoryRange {
  uintptr_t begin;
  uintptr_t end;
};

std::vector<MemoryRange> findReadOnlyRanges() {
  std::vector<MemoryRange> ranges;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t /*size*/, void* data) {
        auto& found = *static_cast<std::vector<MemoryRange>*>(data);
        for (ElfW(Half) index = 0; index < info->dlpi_phnum; ++index) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[index];
          if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) != 0) continue;
          const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
          found.push_back({begin, begin + segment.p_memsz});
        }
        return 1;  // the first object is the program itself; libraries may come and go
      },
      &ranges);
  return ranges;
}

bool isReadOnly(const char* address) {
  static const std::vector<MemoryRange> ranges = findReadOnlyRanges();
  const auto value = reinterpret_cast<uintptr_t>(address);
  return std::any_of(ranges.begin(), ranges.end(),
                     [value](const MemoryRange& range) { return value >= range.begin && value < range.end; });
}

// A format taken apart: literal runs, each but the last followed by a
// conversion.
struct FormatStep {
  uint32_t literalStart;
  uint32_t literalLength;
  Conversion conversion;  // kind '\0': none, the last step
};

struct ParsedFormat {
  static constexpr size_t kMostSteps = 8;
  const char* format = nullptr;
  std::array<FormatStep, kMostSteps> steps{};
  size_t count = 0;
  bool handled = false;  // every conversion is one done here
};

// Takes format apart; not handled when it has a conversion done by the
// library, or is longer or has more conversions than any this program uses.
void parseFormat(const char* format, ParsedFormat& parsed) {
  constexpr size_t kLongest = 4096;
  parsed.format = format;
  parsed.count = 0;
  parsed.handled = false;
  const char* cursor = format;
  while (parsed.count < ParsedFormat::kMostSteps) {
    const char* literalEnd = cursor;
    while (*literalEnd != '\0' && *literalEnd != '%') ++literalEnd;
    if (static_cast<size_t>(literalEnd - format) > kLongest) return;
    FormatStep& step = parsed.steps[parsed.count++];
    step = {static_cast<uint32_t>(cursor - format), static_cast<uint32_t>(literalEnd - cursor), {}};
    if (*literalEnd == '\0') {
      parsed.handled = true;
      return;
    }
    cursor = literalEnd + 1;
    if (!readConversion(cursor, step.conversion)) return;
  }
}

// The decoders print the same few dozen formats again and again: each
// format in read-only memory is taken apart once and found again by its
// address; any other is taken apart afresh, each time.
const ParsedFormat& parsedFormat(const char* format) {
  constexpr size_t kSlots = 256;
  // One more than the slots: the last holds a format that is not kept.
  static std::array<ParsedFormat, kSlots + 1> cache;
  // Fibonacci hashing: the top 8 bits of the address's product pick the slot.
  ParsedFormat& slot = cache[(reinterpret_cast<uintptr_t>(format) * 0x9E3779B97F4A7C15ULL) >> 56];
  if (slot.format == format) return slot;
  ParsedFormat& parsed = isReadOnly(format) ? slot : cache.back();
  parseFormat(format, parsed);
  return parsed;
}

void appendParsed(const ParsedFormat& parsed, va_list arguments) {
  va_list remaining;
  va_copy(remaining, arguments);
  for (size_t index = 0; index < parsed.count; ++index) {
    const FormatStep& step = parsed.steps[index];
    pending.append(parsed.format + step.literalStart, step.literalLength);
    if (step.conversion.kind != '\0') appendConversion(step.conversion, remaining);
  }
  va_end(remaining);
}

// A format with one conversion, of one of these kinds, given its value
// directly rather than through an argument list: most fields print so.
// False, with nothing done, for any other format.
template <typename AppendValue>
bool appendWithSoleConversion(const char* format, std::string_view kinds, AppendValue appendValue) {
  const ParsedFormat& parsed = parsedFormat(format);
  if (!parsed.handled || parsed.count != 2 || kinds.find(parsed.steps[0].conversion.kind) == std::string_view::npos) {
    return false;
  }
  const FormatStep& before = parsed.steps[0];
  const FormatStep& after = parsed.steps[1];
  pending.append(parsed.format + before.literalStart, before.literalLength);
  appendValue(before.conversion);
  pending.append(parsed.format + after.literalStart, after.literalLength);
  return true;
}

// Literal runs are copied and conversions done here: the C library's
// printf machinery was most of the time spent printing a message.
void appendFormatted(const char* format, va_list arguments) {
  const ParsedFormat& parsed = parsedFormat(format);
  if (parsed.handled) {
    appendParsed(parsed, arguments);
  } else {
    appendWithLibrary(format, arguments);
  }
}

}  // namespace

namespace console_detail {

PendingText pending;

void PendingText::grow(size_t count) { storage_.resize(std::max(storage_.size() * 2, used_ + count + kMinimumGrowth)); }

}  // namespace console_detail

FILE* console() {
  writePending();
  return consoleTarget();
}

void consoleMessageDone() {
  // Into a file or a pipe many messages go in one write: the copy through
  // the stream's buffer and a call per message are saved.
  constexpr size_t kBatchBytes = size_t{32} * 1024;
  if (pending.size() >= kBatchBytes) writePending();
}

void setConsole(FILE* stream) {
  writePending();
  consoleStream = stream;
  firstFailure = 0;
}

namespace {

// The columns a run of UTF-8 text takes: the bytes that continue a
// character take none.
size_t columnsOf(const char* text, size_t size) {
  size_t columns = 0;
  for (size_t at = 0; at < size; ++at) {
    if ((static_cast<uint8_t>(text[at]) & 0xC0U) != 0x80U) ++columns;
  }
  return columns;
}

// One line (without its end) to aligned, its tabs written as the blanks
// they stand for.
void expandTabs(std::string& aligned, const char* line, size_t size) {
  constexpr size_t kTabWidth = 8;
  size_t column = 0;
  size_t runStart = 0;
  for (const void* tab; (tab = std::memchr(line + runStart, '\t', size - runStart)) != nullptr;) {
    const size_t tabAt = static_cast<size_t>(static_cast<const char*>(tab) - line);
    column += columnsOf(line + runStart, tabAt - runStart);
    aligned.append(line + runStart, tabAt - runStart);
    const size_t blanks = kTabWidth - column % kTabWidth;
    aligned.append(blanks, ' ');
    column += blanks;
    runStart = tabAt + 1;
  }
  aligned.append(line + runStart, size - runStart);
}

}  // namespace

void consoleAlignSince(size_t start, size_t width) {
  if (width == 0 || start >= pending.size()) return;
  const char* const text = pending.data() + start;
  const size_t size = pending.size() - start;
  // Most messages are one line without tabs: nothing to do.
  const void* firstLineEnd = std::memchr(text, '\n', size);
  if (std::memchr(text, '\t', size) == nullptr && (firstLineEnd == nullptr || firstLineEnd == text + size - 1)) return;
  static std::string aligned;
  aligned.clear();
  // Line by line, each found at once rather than byte by byte.
  for (size_t at = 0; at < size;) {
    const void* lineEnd = std::memchr(text + at, '\n', size - at);
    const size_t end = lineEnd == nullptr ? size : static_cast<size_t>(static_cast<const char*>(lineEnd) - text);
    expandTabs(aligned, text + at, end - at);
    if (end == size) break;
    aligned.push_back('\n');
    at = end + 1;
    if (at < size && text[at] != '\n') aligned.append(width, ' ');
  }
  pending.truncate(start);
  pending.append(aligned.data(), aligned.size());
}

// printf-style on purpose: the format attribute has the compiler check the
// arguments of every call against its format.
void consolePrint(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): see above
  va_list arguments;
  va_start(arguments, format);
  appendFormatted(format, arguments);
  va_end(arguments);
}

void consolePrintText(const char* format, std::string_view text) {
  const bool done =
      appendWithSoleConversion(format, "s", [text](const Conversion& conversion) { appendText(conversion, text); });
  if (!done) consolePrint(format, std::string(text).c_str());
}

void consolePrintNumber(const char* format, uint32_t value) {
  const bool done = appendWithSoleConversion(
      format, "uxX", [value](const Conversion& conversion) { appendNumber(conversion, value, false); });
  if (!done) consolePrint(format, value);
}

void flushConsole() { noteFailure(std::fflush(console()) != 0); }

bool consoleReaderGone() { return firstFailure == EPIPE; }

bool finishConsole(const char* programName) {
  flushConsole();
  // The error flag also catches failures of writes made around us.
  noteFailure(std::ferror(console()) != 0);
  // A reader that stopped reading (`| head`) wanted no more: nothing lost.
  if (firstFailure == 0 || consoleReaderGone()) return true;
  static_cast<void>(
      std::fprintf(stderr, "%s: error writing standard output: %s\n", programName, std::strerror(firstFailure)));
  return false;
}

}  // namespace vestrel
