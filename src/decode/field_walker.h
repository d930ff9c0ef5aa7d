// The walker that reads a message's fields and hands their values to a
// sink; a template so that the sink is called directly, each call inlined
// where the compiler sees fit: the console prints every message of a busy
// server through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decode/fields.h"

namespace vestrel::fields_detail {

inline std::array<uint8_t, 4> readFour(MessageReader& reader) {
  std::array<uint8_t, 4> bytes{};
  for (uint8_t& byte : bytes) byte = reader.readByte();
  return bytes;
}

// Reads a field the sink does not take, so that the fields after it are
// read where they are.
struct DiscardSink {
  static constexpr bool kFieldsEndWithTheMessage = true;
  static bool shows(const Field& /*field*/) { return true; }
  static bool showsEmptyLists() { return false; }
  void number(const Field& /*field*/, uint32_t /*value*/) {}
  void code(const Field& /*field*/, uint32_t /*value*/) {}
  void flags(const Field& /*field*/, uint32_t /*value*/) {}
  void fourCharCode(const Field& /*field*/, std::span<const uint8_t, 4> /*bytes*/) {}
  void address(const Field& /*field*/, std::span<const uint8_t, 4> /*octets*/) {}
  void byteRun(const Field& /*field*/, std::span<const uint8_t> /*present*/) {}
  void fixedText(const Field& /*field*/, std::string_view /*value*/) {}
  void hidden(const Field& /*field*/, std::span<const uint8_t> /*present*/) {}
  void fileTime(const Field& /*field*/, uint64_t /*value*/) {}
  void text(const Field& /*field*/, std::string_view /*value*/) {}
  void shortenedText(const Field& /*field*/, std::string_view /*value*/) {}
  void literal(const Field& /*field*/) {}
  void beginList(const Field& /*list*/) {}
  void beginEntry(const Field& /*list*/, uint32_t /*index*/) {}
  void endEntry(const Field& /*list*/) {}
  void endList(const Field& /*list*/) {}
  void channelName(const Field& /*list*/, std::string_view /*name*/, uint32_t /*index*/) {}
};

template <class Sink>
class Walker {
 public:
  Walker(MessageReader& reader, Sink& sink) : reader_(reader), sink_(sink) {}

  void walk(std::span<const Field> fields) {
    for (const Field& field : fields) {
      if ((field.ifBytesLeft || Sink::kFieldsEndWithTheMessage) && reader_.exhausted() &&
          !(isCounted(field) && sink_.showsEmptyLists())) {
        return;
      }
      if (field.withUnknown && !sink_.shows(field)) {
        pass(field);
        continue;
      }
      take(field);
    }
  }

  void take(const Field& field) {
    switch (field.form) {
      case Form::Number: sink_.number(field, readNumber(field)); break;
      case Form::Code: sink_.code(field, readNumber(field)); break;
      case Form::Flags: sink_.flags(field, readNumber(field)); break;
      case Form::FourCharCode: sink_.fourCharCode(field, readFour(reader_)); break;
      case Form::Address: sink_.address(field, readFour(reader_)); break;
      case Form::ByteRun: sink_.byteRun(field, readRun(field)); break;
      case Form::FixedText: takeFixedText(field); break;
      case Form::Hidden: sink_.hidden(field, reader_.readBytes(field.count)); break;
      case Form::FileTime: takeFileTime(field); break;
      case Form::Text: sink_.text(field, reader_.readString()); break;
      case Form::ShortenedText: sink_.shortenedText(field, reader_.readString()); break;
      case Form::Literal: sink_.literal(field); break;
      case Form::List: takeList(field); break;
      case Form::ChannelList: takeChannelList(field); break;
    }
  }

 private:
  // The bytes of a field whose size the table gives; 0 for the others.
  static size_t fixedSize(const Field& field) {
    switch (field.form) {
      case Form::Number:
      case Form::Code:
      case Form::Flags: return field.counter == Counter::None ? field.size : 0;
      case Form::FourCharCode:
      case Form::Address: return 4;
      case Form::FileTime: return 8;
      case Form::ByteRun:
      case Form::FixedText:
      case Form::Hidden: return field.count != kRestOfMessage ? field.count : 0;
      default: return 0;
    }
  }

  // Reads past a field the sink does not take: a fixed size at once, any
  // other field as the walker reads it.
  void pass(const Field& field) {
    if (const size_t size = fixedSize(field)) {
      reader_.skip(size);
      return;
    }
    DiscardSink discard;
    Walker<DiscardSink>(reader_, discard).take(field);
  }

  // A list whose count the message gave is there even when it is empty.
  static bool isCounted(const Field& field) {
    return field.form == Form::List && field.counter != Counter::None && !field.ifBytesLeft;
  }

  uint32_t readNumber(const Field& field) {
    uint32_t value = 0;
    if (field.size == 4) [[likely]] {
      value = reader_.readDword();
    } else if (field.size == 2) {
      const uint32_t first = reader_.readByte();
      const uint32_t second = reader_.readByte();
      value = field.bigEndian ? first << 8 | second : second << 8 | first;
    } else {
      value = reader_.readByte();
    }
    if (field.counter == Counter::First) first_ = value;
    if (field.counter == Counter::Second) second_ = value;
    return value;
  }

  std::span<const uint8_t> readRun(const Field& field) {
    return reader_.readBytes(field.count == kRestOfMessage ? reader_.rest().size() : field.count);
  }

  void takeFixedText(const Field& field) {
    const std::span<const uint8_t> present = reader_.readBytes(field.count);
    std::string_view text(reinterpret_cast<const char*>(present.data()), present.size());
    text = text.substr(0, text.find('\0'));
    sink_.fixedText(field, text);
  }

  void takeFileTime(const Field& field) {
    const uint64_t low = reader_.readDword();
    const uint64_t high = reader_.readDword();
    sink_.fileTime(field, high << 32 | low);
  }

  uint64_t entriesOf(const Field& list) const {
    switch (list.counter) {
      case Counter::First: return first_;
      case Counter::Second: return second_;
      case Counter::Product: return uint64_t{first_} * second_;
      case Counter::None: break;
    }
    return UINT64_MAX;
  }

  // The count is the sender's word and may promise more entries than the
  // message holds: the list ends with the message.
  void takeList(const Field& list) {
    sink_.beginList(list);
    const uint64_t entries = entriesOf(list);
    for (uint32_t index = 0; index < entries && !reader_.exhausted(); ++index) {
      sink_.beginEntry(list, index);
      walk(list.entry);
      sink_.endEntry(list);
    }
    sink_.endList(list);
  }

  // The first name always, then names up to an empty one or the end.
  void takeChannelList(const Field& list) {
    sink_.beginList(list);
    uint32_t index = 0;
    sink_.channelName(list, reader_.readString(), index);
    for (std::string_view name = reader_.readString(); !name.empty(); name = reader_.readString()) {
      sink_.channelName(list, name, ++index);
    }
    sink_.endList(list);
  }

  MessageReader& reader_;
  Sink& sink_;
  uint32_t first_ = 0;
  uint32_t second_ = 0;
};

}  // namespace vestrel::fields_detail

namespace vestrel {

// Reads fields from reader in order and hands each value to sink, which
// has FieldSink's members (it need not derive from it).
template <class Sink>
void walkFields(MessageReader& reader, std::span<const Field> fields, Sink& sink) {
  fields_detail::Walker<Sink>(reader, sink).walk(fields);
}

}  // namespace vestrel
