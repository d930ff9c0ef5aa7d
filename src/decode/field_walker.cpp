#include "decode/fields.h"

#include <array>

namespace vestrel {

namespace {

std::array<uint8_t, 4> readFour(MessageReader& reader) {
  std::array<uint8_t, 4> bytes{};
  for (uint8_t& byte : bytes) byte = reader.readByte();
  return bytes;
}

class Walker {
 public:
  Walker(MessageReader& reader, FieldSink& sink) : reader_(reader), sink_(sink) {}

  void walk(std::span<const Field> fields) {
    for (const Field& field : fields) {
      if (field.ifBytesLeft && reader_.exhausted()) return;
      take(field);
    }
  }

 private:
  void take(const Field& field) {
    switch (field.form) {
      case Form::Number:
      case Form::Code:
      case Form::UnknownNumber: takeNumber(field); break;
      case Form::FourCharCode: sink_.fourCharCode(field, readFour(reader_)); break;
      case Form::Address: sink_.address(field, readFour(reader_)); break;
      case Form::ByteRun:
      case Form::UnknownBytes:
      case Form::Hidden: sink_.bytes(field, reader_.readBytes(field.count)); break;
      case Form::FileTime: takeFileTime(field); break;
      case Form::Text:
      case Form::ShortenedText: sink_.text(field, reader_.readString()); break;
      case Form::Literal: sink_.literal(field); break;
      case Form::KeyList: takeKeyList(field); break;
      case Form::ChannelList: takeChannelList(field); break;
    }
  }

  void takeNumber(const Field& field) {
    const uint32_t value = reader_.readDword();
    if (field.counts) count_ = value;
    sink_.number(field, value);
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
  FieldSink& sink_;
  uint32_t count_ = 0;
};

}  // namespace

void walkFields(MessageReader& reader, std::span<const Field> fields, FieldSink& sink) {
  Walker(reader, sink).walk(fields);
}

}  // namespace vestrel
