#include "stream/decode_details.h"

#include "stream/console.h"

namespace vestrel {

namespace {

// One table per direction: id to decoder. Messages without a row end their
// line right after the summary.
constexpr std::span<const DecoderEntry> kClientDecoders{};
constexpr std::span<const DecoderEntry> kServerDecoders{};

Decoder lookUp(std::span<const DecoderEntry> table, uint8_t id) {
  for (const DecoderEntry& entry : table) {
    if (entry.id == id) return entry.decoder;
  }
  return nullptr;
}

}  // namespace

Decoder findDecoder(uint8_t id, bool sent) { return lookUp(sent ? kClientDecoders : kServerDecoders, id); }

void decodeDetails(MessageReader& reader, bool sent, const Options& options) {
  if (const Decoder decoder = findDecoder(reader.id(), sent)) {
    decoder(reader, options);
  } else {
    consolePrint("\n");
  }
}

}  // namespace vestrel
