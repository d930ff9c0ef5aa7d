#include "decode/json_sink.h"

#include <algorithm>
#include <cstdio>

#include "decode/file_time.h"
#include "decode/output_forms.h"
#include "output/console.h"

namespace vestrel {

namespace {

bool isPunctuation(char character) {
  return character == ' ' || character == '(' || character == ')' || character == ',' || character == '\n';
}

std::string_view trimPunctuation(std::string_view text) {
  while (!text.empty() && isPunctuation(text.front())) text.remove_prefix(1);
  while (!text.empty() && isPunctuation(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string_view codeMeaning(const CodeTable& table, uint32_t code) {
  const char* text = lookUpText(table.rows, code);
  if (text == nullptr && table.plain) text = table.otherwise;
  return text != nullptr ? trimPunctuation(text) : std::string_view();
}

void JsonSink::number(const Field& field, uint32_t value) {
  members().key(field.key);
  writeJsonNumber(value);
}

void JsonSink::code(const Field& field, uint32_t value) {
  members().key(field.key);
  consoleWrite("{\"code\":");
  writeJsonNumber(value);
  consoleWrite(",\"text\":");
  const std::string_view meaning = codeMeaning(*field.codes, value);
  if (meaning.empty()) {
    consoleWrite("null");
  } else {
    writeJsonString(meaning);
  }
  consoleWrite("}");
}

// {"value":N,"names":[...]}: the number, and the names of its set bits.
void JsonSink::flags(const Field& field, uint32_t value) {
  members().key(field.key);
  consoleWrite("{\"value\":");
  writeJsonNumber(value);
  consoleWrite(",\"names\":[");
  JsonMembers names;
  forEachFlagName(field.flags, value, [&names](std::string_view name) {
    names.next();
    writeJsonString(name);
  });
  consoleWrite("]}");
}

void JsonSink::fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) {
  members().key(field.key);
  writeJsonString(fourCharCodeText(bytes, options_.decoders == DecoderSet::Full).view());
}

void JsonSink::address(const Field& field, std::span<const uint8_t, 4> octets) {
  members().key(field.key);
  writeJsonString(dottedAddress(octets).view());
}

void JsonSink::byteRun(const Field& field, std::span<const uint8_t> present) {
  members().key(field.key);
  writeJsonHex(present);
  for (const Field& part : field.parts) {
    if (present.empty()) break;
    const std::span<const uint8_t> bytes = present.first(std::min<size_t>(part.count, present.size()));
    members().key(part.key);
    writeJsonHex(bytes);
    present = present.subspan(bytes.size());
  }
}

// RFC 3339 in UTC, to the second as the console shows it.
void JsonSink::fileTime(const Field& field, uint64_t value) {
  const CalendarTime time = calendarFromFileTime(value);
  char rfc3339[48];
  const int length = std::snprintf(rfc3339, sizeof rfc3339, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.year, time.month,
                                   time.day, time.hour, time.minute, time.second);
  members().key(field.key);
  writeJsonString({rfc3339, static_cast<size_t>(length)});
}

void JsonSink::text(const Field& field, std::string_view value) {
  members().key(field.key);
  writeJsonString(value);
}

void JsonSink::beginList(const Field& list) {
  fields_.key(list.key);
  consoleWrite("[");
  list_ = {};
}

void JsonSink::beginEntry(const Field& /*list*/, uint32_t /*index*/) {
  list_.next();
  consoleWrite("{");
  entry_ = {};
  inEntry_ = true;
}

void JsonSink::endEntry(const Field& /*list*/) {
  consoleWrite("}");
  inEntry_ = false;
}

void JsonSink::endList(const Field& /*list*/) { consoleWrite("]"); }

// An empty first name is a list without channels.
void JsonSink::channelName(const Field& /*list*/, std::string_view name, uint32_t /*index*/) {
  if (name.empty()) return;
  list_.next();
  writeJsonString(name);
}

void JsonSink::writeTrailing(std::span<const uint8_t> rest) {
  fields_.key("trailing");
  writeJsonHex(rest);
}

}  // namespace vestrel
