// Decoders as data: a message's decoder is the list of its fields in wire
// order, each with its form, a stable key and the text the console shows it
// with. One walker (field_walker.h) reads the fields through the
// MessageReader and hands each value to a sink; the console sink prints it, another output writes
// the same values its own way. Adding a message is adding a table.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "decode/message_reader.h"
#include "decode/output_forms.h"

namespace vestrel {

enum class Form : uint8_t {
  Number,         // a number of size bytes; format shows it with one numeric conversion
  Code,           // a number and its text from codes; format, when set, shows the number first
  Flags,          // a number and the names of its set bits from flags; format shows the number
  FourCharCode,   // a dword whose bytes are a code like "IX86"; format takes "%s"
  Address,        // a dword whose bytes are an IPv4 address; format takes "%s"
  ByteRun,        // count bytes, shown in hex after format and before suffix
  FixedText,      // count bytes of text in wire order, up to the first zero; format takes "%s"
  FileTime,       // a 64-bit file time; format takes day, month, year, hour, minute, second
  Text,           // a zero-terminated text; format takes "%s", whenEmpty follows an empty one
  ShortenedText,  // a text the console cuts past limit bytes to keep, shown with markedFormat, unless -s
  Hidden,         // count bytes the console never shows
  Literal,        // no bytes: format is console text between fields
  List,           // entries of the fields in entry, as many as counter says; format heads each entry
  ChannelList,    // texts up to an empty one; format takes the first
};

// The counts a message gives for its lists: a Number with counter First or
// Second sets that count; a List takes its number of entries from its
// counter, Product being First times Second. A List with counter None runs
// to the message's end.
enum class Counter : uint8_t { None, First, Second, Product };

// A ByteRun's count that takes every byte left in the message.
inline constexpr uint16_t kRestOfMessage = 0xFFFF;

struct Field {
  Form form;
  std::string_view key = {};  // snake_case, one vocabulary across messages; none for a Literal
  const char* format = "";
  const char* suffix = "";
  const CodeTable* codes = nullptr;
  std::span<const FlagName> flags = {};  // Flags
  uint16_t count = 0;                    // bytes of a ByteRun, FixedText or Hidden field
  uint16_t limit = 0;                    // ShortenedText
  uint16_t keep = 0;
  const char* markedFormat = nullptr;
  const char* whenEmpty = nullptr;
  uint8_t size = 4;                   // bytes of a Number, Code or Flags field: 1, 2 or 4
  bool bigEndian = false;             // a Number in network order (ports)
  Counter counter = Counter::None;    // see Counter
  bool ifBytesLeft = false;           // read only while the message has bytes left
  bool withUnknown = false;           // on the console only with -u: unknown, reserved, or beyond the classic line
  bool last = false;                  // with withUnknown: the console shows it after the message's other fields
  std::span<const Field> entry = {};  // List: the fields of one entry
  // ByteRun: the fields its bytes hold, each a ByteRun of its count, written
  // by JSON beside it under their own keys (a run the classic line shows as
  // one, e.g. a salt and a verifier).
  std::span<const Field> parts = {};
};

// What a message is decoded with in one direction.
struct DecoderEntry {
  uint8_t id;
  std::span<const Field> fields;
};

// Where the walker hands the values, in field order: one member for each
// form.
// A sink also says, as kFieldsEndWithTheMessage, whether the fields end
// where the message does, or every field is handed over, those past the
// message's end as zeros and empty texts; and, by shows(field), whether it
// takes a field at all (the walker reads the others past).
class FieldSink {
 public:
  virtual ~FieldSink() = default;
  virtual void number(const Field& field, uint32_t value) = 0;
  virtual void code(const Field& field, uint32_t value) = 0;
  virtual void flags(const Field& field, uint32_t value) = 0;
  virtual void fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) = 0;
  virtual void address(const Field& field, std::span<const uint8_t, 4> octets) = 0;
  // The bytes the message holds of the field's count.
  virtual void byteRun(const Field& field, std::span<const uint8_t> present) = 0;
  virtual void fixedText(const Field& field, std::string_view value) = 0;
  virtual void hidden(const Field& field, std::span<const uint8_t> present) = 0;
  virtual void fileTime(const Field& field, uint64_t value) = 0;
  virtual void text(const Field& field, std::string_view value) = 0;
  virtual void shortenedText(const Field& field, std::string_view value) = 0;
  virtual void literal(const Field& field) = 0;
  virtual void beginList(const Field& list) = 0;
  virtual void beginEntry(const Field& list, uint32_t index) = 0;
  virtual void endEntry(const Field& list) = 0;
  virtual void endList(const Field& list) = 0;
  // ChannelList: one name at a time, the first (which may be empty) first.
  virtual void channelName(const Field& list, std::string_view name, uint32_t index) = 0;
};

}  // namespace vestrel
