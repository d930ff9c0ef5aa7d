// The decoder tables themselves: every field another output names by its
// key has one, in the one vocabulary, and no message names two fields alike.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "decode/client_decoders.h"
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

void expectKeyed(std::span<const Field> fields, const std::string& where) {
  std::set<std::string> seen;
  for (const Field& field : fields) {
    if (field.form == Form::Literal) {
      EXPECT_TRUE(field.key.empty()) << where << ": console text has no key";
      continue;
    }
    ASSERT_FALSE(field.key.empty()) << where << ": a field without a key";
    EXPECT_TRUE(isSnakeCase(std::string(field.key))) << where << ": " << field.key;
    EXPECT_TRUE(seen.insert(std::string(field.key)).second) << where << ": " << field.key << " twice";
    EXPECT_EQ(field.codes != nullptr, field.form == Form::Code) << where << ": " << field.key;
    EXPECT_EQ(!field.entry.empty(), field.form == Form::KeyList) << where << ": " << field.key;
    if (field.form == Form::KeyList) expectKeyed(field.entry, where + " " + std::string(field.key));
  }
}

TEST(DecoderTables, EveryFieldHasItsOwnSnakeCaseKey) {
  for (const auto& [direction, table] :
       {std::pair{"sent", clientDecoders()}, std::pair{"received", serverDecoders()}}) {
    for (const DecoderEntry& decoder : table) {
      expectKeyed(decoder.fields, std::string(direction) + " 0x" + std::to_string(decoder.id));
    }
  }
}

}  // namespace
}  // namespace vestrel
