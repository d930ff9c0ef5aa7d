// vestrel-fields: the decoder tables as JSON, for the schema and its test:
// for each set ("classic", "full"), direction ("sent", "received") and id
// with a decoder, the message's name and its fields in wire order, each with
// its key, the form its JSON value takes (the schema's name for it), and
// whether the console shows it only with -u or after the other fields.
// With --filter-words: every word vestrel-trace -Y knows, one a line, for
// the bash completion.
#include <cstdio>
#include <cstring>
#include <string>

#include "decode/decoder_sets.h"
#include "decode/message_filter.h"
#include "decode/message_names.h"

namespace vestrel {
namespace {

const char* numberForm(const Field& field) {
  if (field.size == 1) return "u8";
  return field.size == 2 ? "u16" : "number";
}

// The schema's name for a field's JSON value; nullptr for fields JSON never has.
const char* jsonForm(const Field& field) {
  switch (field.form) {
    case Form::Number: return numberForm(field);
    case Form::Code: return "code";
    case Form::Flags: return "flags";
    case Form::FourCharCode: return "fourCharCode";
    case Form::Address: return "ipv4";
    case Form::ByteRun: return "byteRun";
    case Form::FixedText:
    case Form::Text:
    case Form::ShortenedText: return "text";
    case Form::FileTime: return "fileTime";
    case Form::List: return "list";
    case Form::ChannelList: return "[text]";
    case Form::Hidden:
    case Form::Literal: break;
  }
  return nullptr;
}

std::string fieldsJson(std::span<const Field> fields) {
  std::string json = "[";
  for (const Field& field : fields) {
    const char* form = jsonForm(field);
    if (form == nullptr) continue;
    if (json.size() > 1) json += ",";
    json += "{\"key\":\"" + std::string(field.key) + "\",\"form\":\"" + form + "\"";
    if (field.withUnknown) json += ",\"with_unknown\":true";
    if (field.last) json += ",\"last\":true";
    if (field.form == Form::List) json += ",\"entry\":" + fieldsJson(field.entry);
    json += "}";
    // JSON writes the parts of a run beside it, as fields of their own.
    for (const Field& part : field.parts) {
      json += ",{\"key\":\"" + std::string(part.key) + "\",\"form\":\"byteRun\",\"part_of\":\"" +
              std::string(field.key) + "\"";
      if (field.withUnknown) json += ",\"with_unknown\":true";
      json += "}";
    }
  }
  return json + "]";
}

// Names are JSON-safe: SID_ and capitals, a tab or blank at the end.
std::string bareName(uint8_t id, DecoderSet set) {
  std::string name = messageName(id, set);
  name.erase(name.find_last_not_of(" \t") + 1);
  return name;
}

void printSet(DecoderSet set) {
  for (const bool sent : {true, false}) {
    std::printf("%s\"%s\":{", sent ? "" : ",", sent ? "sent" : "received");
    const char* separator = "";
    for (const DecoderEntry* decoder : decoderIndex(set, sent)) {
      if (decoder == nullptr) continue;
      std::printf("%s\"%u\":{\"name\":\"%s\",\"fields\":%s}", separator, unsigned{decoder->id},
                  bareName(decoder->id, set).c_str(), fieldsJson(decoder->fields).c_str());
      separator = ",";
    }
    std::printf("}");
  }
}

}  // namespace
}  // namespace vestrel

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--filter-words") == 0) {
    for (const std::string& word : vestrel::filterWords()) std::printf("%s\n", word.c_str());
    return 0;
  }
  std::printf("{\"classic\":{");
  vestrel::printSet(vestrel::DecoderSet::Classic);
  std::printf("},\"full\":{");
  vestrel::printSet(vestrel::DecoderSet::Full);
  std::printf("}}\n");
  return 0;
}
