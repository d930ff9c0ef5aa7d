#include "decode/decoder_sets.h"

#include "decode/client_decoders.h"
#include "decode/server_decoders.h"

namespace vestrel {

namespace {

void add(DecoderIndex& index, std::span<const DecoderEntry> table) {
  for (const DecoderEntry& entry : table) index[entry.id] = &entry;
}

DecoderIndex classicIndex(bool sent) {
  DecoderIndex index{};
  add(index, sent ? clientDecoders() : serverDecoders());
  return index;
}

// The classic tables, those the full set shows with more fields replaced,
// then every other message by topic.
DecoderIndex fullIndex(bool sent) {
  DecoderIndex index = classicIndex(sent);
  add(index, sent ? extendedClientDecoders() : extendedServerDecoders());
  for (const TopicDecoders topic : {logonDecoders(), chatDecoders(), gameDecoders(), filesAndScriptsDecoders(),
                                    realmAndProfileDecoders(), friendAndClanDecoders()}) {
    add(index, sent ? topic.client : topic.server);
  }
  return index;
}

}  // namespace

const DecoderIndex& decoderIndex(DecoderSet set, bool sent) {
  static const DecoderIndex classic[2] = {classicIndex(false), classicIndex(true)};
  static const DecoderIndex full[2] = {fullIndex(false), fullIndex(true)};
  return (set == DecoderSet::Full ? full : classic)[sent ? 1 : 0];
}

}  // namespace vestrel
