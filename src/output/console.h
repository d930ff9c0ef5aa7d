// The one stream that all console text goes through. It is standard output
// in the program; tests point it at a memory stream to read what was printed.
// consolePrint gathers text in memory; asking for the stream hands it all
// over first, so text printed either way keeps its order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace vestrel {

namespace console_detail {

// Up to 16 characters as two overlapping loads and stores of a size that
// fits the count, never reading or writing past either end.
template <typename Word>
void copyEnds(char* target, const char* text, size_t count) {
  Word head;
  Word tail;
  std::memcpy(&head, text, sizeof head);
  std::memcpy(&tail, text + count - sizeof tail, sizeof tail);
  std::memcpy(target, &head, sizeof head);
  std::memcpy(target + count - sizeof tail, &tail, sizeof tail);
}

// Most pieces of a message are a few characters: copied here, without a
// call to the library's general copy.
inline void copyText(char* target, const char* text, size_t count) {
  if (count > 16) {
    std::memcpy(target, text, count);
  } else if (count >= 8) {
    copyEnds<uint64_t>(target, text, count);
  } else if (count >= 4) {
    copyEnds<uint32_t>(target, text, count);
  } else if (count != 0) {
    target[0] = text[0];
    target[count / 2] = text[count / 2];
    target[count - 1] = text[count - 1];
  }
}

// Text printed since the console stream was last asked for. A message's
// text is built here piece by piece and handed to the stream in one write.
// Its storage only grows, settling at the longest message seen. Here, not
// in console.cpp, so that the many small writes of a message are inlined.
class PendingText {
 public:
  // Room for count more characters; write them, then commit them.
  char* room(size_t count) {
    if (used_ + count > storage_.size()) [[unlikely]]
      grow(count);
    return storage_.data() + used_;
  }
  void commit(size_t count) { used_ += count; }
  void append(const char* text, size_t count) {
    copyText(room(count), text, count);
    used_ += count;
  }
  void append(size_t count, char filler) {
    std::memset(room(count), filler, count);
    used_ += count;
  }
  size_t size() const { return used_; }
  bool empty() const { return used_ == 0; }
  const char* data() const { return storage_.data(); }
  void truncate(size_t size) { used_ = size; }

 private:
  // Out of the way of the calls above, which are many and rarely grow it.
  [[gnu::noinline]] void grow(size_t count);

  static constexpr size_t kMinimumGrowth = 4096;
  std::string storage_;
  size_t used_ = 0;
};

extern PendingText pending;

}  // namespace console_detail

// The stream, once every text printed so far has been written to it.
FILE* console();
void setConsole(FILE* stream);

// A whole message has been printed and need not be seen yet: its text is
// handed over with the next ones, in one write, once enough has gathered
// (or when the stream is asked for, flushed or finished).
void consoleMessageDone();

// Text as it is, no conversions.
inline void consoleWrite(std::string_view text) { console_detail::pending.append(text.data(), text.size()); }

// Room for count more characters of text, written in place and then
// handed over with consoleCommit(how many were written): for writers that
// know their text's longest length beforehand.
inline char* consoleRoom(size_t count) { return console_detail::pending.room(count); }
inline void consoleCommit(size_t count) { console_detail::pending.commit(count); }

// How much text waits to be handed over: a mark for consoleAlignSince.
inline size_t consolePendingSize() { return console_detail::pending.size(); }
// For text printed since start behind a prefix width characters wide:
// turns its tabs into the blanks they stand for when the text begins a
// line, and indents every line after the first by width blanks, so that
// its columns line up as they would without the prefix. Empty lines stay
// empty. Nothing changes without a prefix.
void consoleAlignSince(size_t start, size_t width);

// printf to the console: the conversions this program uses (s, c, d, u, x,
// X with the flags - and 0, width and precision) are done here, anything
// else by the C library, with the same result either way.
// A failed write sets the stream's error flag, which stays set until
// finishConsole() reads it.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same for a format whose one conversion is a %s, given its text as a
// view: no terminator is looked for, and none is needed.
void consolePrintText(const char* format, std::string_view text);
// The same for a format whose one conversion is a number (%u, %X, ...).
void consolePrintNumber(const char* format, uint32_t value);

// Hands what is buffered to the system now, so it is seen at once. A
// failure is remembered for finishConsole().
void flushConsole();

// The reader of the console (a pipe) has gone: printing more is pointless.
bool consoleReaderGone();

// Flushes the console and reports on standard error, as "program: error
// writing standard output: reason", if anything printed was lost, even when
// a later flush succeeded. True when everything reached it, or when its
// reader closed the pipe (which is no error: `| head` wanted no more).
bool finishConsole(const char* programName);

}  // namespace vestrel
