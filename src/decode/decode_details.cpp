#include "decode/decode_details.h"

#include <array>

#include "decode/client_decoders.h"
#include "decode/console_sink.h"
#include "decode/field_walker.h"
#include "decode/json_sink.h"
#include "decode/server_decoders.h"
#include "output/console.h"

namespace vestrel {

namespace {

using DecoderIndex = std::array<const DecoderEntry*, 256>;

// Every id of a direction, with or without a decoder, so a lookup is one step.
DecoderIndex indexById(std::span<const DecoderEntry> table) {
  DecoderIndex index{};
  for (const DecoderEntry& entry : table) index[entry.id] = &entry;
  return index;
}

}  // namespace

const DecoderEntry* findDecoder(uint8_t id, bool sent) {
  static const DecoderIndex client = indexById(clientDecoders());
  static const DecoderIndex server = indexById(serverDecoders());
  return (sent ? client : server)[id];
}

void decodeDetails(MessageReader& reader, bool sent, const DisplaySettings& options) {
  if (const DecoderEntry* decoder = findDecoder(reader.id(), sent)) {
    ConsoleSink sink(options);
    walkFields(reader, decoder->fields, sink);
  } else {
    consolePrint("\n");
  }
}

void decodeJsonFields(MessageReader& reader, bool sent, const DisplaySettings& options) {
  consoleWrite("{");
  if (const DecoderEntry* decoder = findDecoder(reader.id(), sent)) {
    JsonSink sink(options);
    walkFields(reader, decoder->fields, sink);
  }
  consoleWrite("}");
}

}  // namespace vestrel
