#include "decode/decode_details.h"

#include "decode/console_sink.h"
#include "decode/decoder_sets.h"
#include "decode/field_walker.h"
#include "decode/json_sink.h"
#include "output/console.h"

namespace vestrel {

void decodeDetails(MessageReader& reader, bool sent, const DisplaySettings& options) {
  const DecoderEntry* decoder = findDecoder(reader.id(), sent, options.decoders);
  if (decoder != nullptr && !decoder->fields.empty()) [[likely]] {
    ConsoleSink sink(options);
    walkFields(reader, decoder->fields, sink);
    sink.finish(reader);
  } else if (options.decoders == DecoderSet::Full && options.showUnknown && !reader.rest().empty()) {
    printTrailingBytes(reader.rest(), true);
  } else {
    consoleWrite("\n");
  }
}

void decodeJsonFields(MessageReader& reader, bool sent, const DisplaySettings& options) {
  consoleWrite("{");
  JsonSink sink(options);
  if (const DecoderEntry* decoder = findDecoder(reader.id(), sent, options.decoders)) {
    walkFields(reader, decoder->fields, sink);
  }
  sink.finish(reader);
  consoleWrite("}");
}

}  // namespace vestrel
