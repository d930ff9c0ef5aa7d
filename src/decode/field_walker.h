// The walker that reads a message's fields and hands their values to a
// sink; a template so that the sink is called directly, each call inlined
// where the compiler sees fit: the console prints every message of a busy
// server through it.
#pragma once

#include <array>

#include "decode/fields.h"

namespace vestrel::fields_detail {

inline std::array<uint8_t, 4> readFour(MessageReader& reader) {
  std::array<uint8_t, 4> bytes{};
  for (uint8_t& byte : bytes) byte = reader.readByte();
  return bytes;
}

template <class Sink>
class Walker {
 public:
  Walker(MessageReader& reader, Sink& sink) : reader_(reader), sink_(sink) {}

  void walk(std::span<const Field> fields) {
    for (const Field& field : fields) {
      if ((field.ifBytesLeft || Sink::kFieldsEndWithTheMessage) && reader_.exhausted()) return;
      take(field);
    }
  }

 private:
  void take(const Field& field) {
    switch (field.form) {
      case Form::Number: sink_.number(field, readNumber(field)); break;
      case Form::Code: sink_.code(field, readNumber(field)); break;
      case Form::UnknownNumber: sink_.unknownNumber(field, readNumber(field)); break;
      case Form::FourCharCode: sink_.fourCharCode(field, readFour(reader_)); break;
      case Form::Address: sink_.address(field, readFour(reader_)); break;
      case Form::ByteRun: sink_.byteRun(field, reader_.readBytes(field.count)); break;
      case Form::UnknownBytes: sink_.unknownBytes(field, reader_.readBytes(field.count)); break;
      case Form::Hidden: sink_.hidden(field, reader_.readBytes(field.count)); break;
      case Form::FileTime: takeFileTime(field); break;
      case Form::Text: sink_.text(field, reader_.readString()); break;
      case Form::ShortenedText: sink_.shortenedText(field, reader_.readString()); break;
      case Form::Literal: sink_.literal(field); break;
      case Form::KeyList: takeKeyList(field); break;
      case Form::ChannelList: takeChannelList(field); break;
    }
  }

  uint32_t readNumber(const Field& field) {
    const uint32_t value = reader_.readDword();
    if (field.counts) count_ = value;
    return value;
  }

  void takeFileTime(const Field& field) {
    const uint64_t low = reader_.readDword();
    const uint64_t high = reader_.readDword();
    sink_.fileTime(field, high << 32 | low);
  }

  // The count is the sender's word and may promise more entries than the
  // message holds: the list ends with the message.
  void takeKeyList(const Field& list) {
    sink_.beginList(list);
    for (uint32_t index = 0; index < count_ && !reader_.exhausted(); ++index) {
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
  uint32_t count_ = 0;
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
