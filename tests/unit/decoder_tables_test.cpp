// The decoder tables themselves: every field another output names by its
// key has one, in the one vocabulary, no message names two fields alike,
// every list has its count, and each message of the full set comes from
// one table only.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "decode/client_decoders.h"
#include "decode/decoder_sets.h"
#include "decode/server_decoders.h"

namespace vestrel {
namespace {

bool isSnakeCase(const std::string& key) {
  if (key.empty() || key.front() == '_' || key.back() == '_') return false;
  for (const char character : key) {
    if (!((character >= 'a' && character <= 'z') || (character >= '0' && character <= '9') || character == '_')) {
      return false;
    }
  }
  return key.find("__") == std::string::npos;
}

bool setsCounter(const Field& field, Counter counter) { return field.form == Form::Number && field.counter == counter; }

// A list counted by First or Second comes after the number that sets it;
// Product after both.
void expectCounted(std::span<const Field> fields, size_t at, const std::string& where) {
  const Field& list = fields[at];
  const auto before = fields.first(at);
  const auto sets = [&before](Counter counter) {
    return std::any_of(before.begin(), before.end(), [counter](const Field& f) { return setsCounter(f, counter); });
  };
  switch (list.counter) {
    case Counter::None: break;
    case Counter::First:
    case Counter::Second: EXPECT_TRUE(sets(list.counter)) << where << ": " << list.key; break;
    case Counter::Product:
      EXPECT_TRUE(sets(Counter::First) && sets(Counter::Second)) << where << ": " << list.key;
      break;
  }
}

void expectKeyed(std::span<const Field> fields, const std::string& where) {
  std::set<std::string> seen;
  for (size_t at = 0; at < fields.size(); ++at) {
    const Field& field = fields[at];
    if (field.form == Form::Literal) {
      EXPECT_TRUE(field.key.empty()) << where << ": console text has no key";
      continue;
    }
    ASSERT_FALSE(field.key.empty()) << where << ": a field without a key";
    EXPECT_TRUE(isSnakeCase(std::string(field.key))) << where << ": " << field.key;
    EXPECT_NE(field.key, "trailing") << where << ": the bytes after the last field have that key";
    EXPECT_TRUE(seen.insert(std::string(field.key)).second) << where << ": " << field.key << " twice";
    EXPECT_EQ(field.codes != nullptr, field.form == Form::Code) << where << ": " << field.key;
    EXPECT_EQ(!field.flags.empty(), field.form == Form::Flags) << where << ": " << field.key;
    EXPECT_TRUE(field.size == 1 || field.size == 2 || field.size == 4) << where << ": " << field.key;
    EXPECT_TRUE(!field.last || (field.withUnknown && field.form == Form::Number)) << where << ": " << field.key;
    EXPECT_EQ(!field.entry.empty(), field.form == Form::List) << where << ": " << field.key;
    if (field.form == Form::List) {
      expectCounted(fields, at, where);
      expectKeyed(field.entry, where + " " + std::string(field.key));
    }
  }
}

TEST(DecoderTables, EveryFieldHasItsOwnSnakeCaseKey) {
  for (const DecoderSet set : {DecoderSet::Classic, DecoderSet::Full}) {
    for (const bool sent : {true, false}) {
      for (const DecoderEntry* decoder : decoderIndex(set, sent)) {
        if (decoder == nullptr) continue;
        expectKeyed(decoder->fields, std::string(sent ? "sent" : "received") + " 0x" + std::to_string(decoder->id));
      }
    }
  }
}

// The full set holds every classic message, the extended ones in their
// place, and each topic's messages, no message twice.
TEST(DecoderTables, TheFullSetTakesEachMessageFromOneTable) {
  for (const bool sent : {true, false}) {
    std::set<uint8_t> ids;
    size_t entries = 0;
    for (const TopicDecoders topic : {logonDecoders(), chatDecoders(), gameDecoders(), filesAndScriptsDecoders(),
                                      realmAndProfileDecoders(), friendAndClanDecoders()}) {
      for (const DecoderEntry& entry : sent ? topic.client : topic.server) {
        ids.insert(entry.id);
        ++entries;
      }
    }
    for (const DecoderEntry& entry : sent ? clientDecoders() : serverDecoders()) {
      EXPECT_TRUE(ids.insert(entry.id).second)
          << "0x" << std::hex << int{entry.id} << " in a topic and the classic set";
      ++entries;
    }
    EXPECT_EQ(ids.size(), entries) << (sent ? "sent" : "received") << ": an id in two topics";
    size_t indexed = 0;
    for (const DecoderEntry* decoder : decoderIndex(DecoderSet::Full, sent)) indexed += decoder != nullptr ? 1 : 0;
    EXPECT_EQ(indexed, ids.size());
  }
}

}  // namespace
}  // namespace vestrel
