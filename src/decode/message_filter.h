// The message filter (-Y): an expression over a message's header and its
// fields, parsed once, then asked of every message.
//
//   expression  := either ( ("or" | "||") either )*
//   either      := unary ( ("and" | "&&") unary )*
//   unary       := ("not" | "!") unary | "(" expression ")" | comparison
//   comparison  := KEY OPERATOR VALUE | KEY
//   OPERATOR    := "==" | "!=" | "<" | ">" | "contains" | "matches"
//   VALUE       := NUMBER (decimal or 0x hex) | "TEXT" (escapes \" \\ \n
//                  \r \t \xHH) | a bare name (message names, sent, received)
//
// Keys: id, name, direction (sent or received, as in JSON), length, and
// every field key of the full decoder set, as JSON writes them. Names are
// always the full set's, also when the classic set shows the messages.
// Numbers, codes and flags compare by their value; every other field by
// its JSON text (file times in RFC 3339, byte runs in lower-case hex), and
// `<`, `>` compare texts byte by byte. `matches` searches the text with a
// regular expression of RE2's linear-time engine. A key alone is true when
// the message has the field.
//
// A field that is in a list holds when any of its entries does. A field
// the message does not have makes every comparison on it false, `!=`
// included: `not (result == 0)` holds for a message without a result.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "decode/message_reader.h"

namespace re2 {
class RE2;
}

namespace vestrel {

enum class FilterOperator : uint8_t { Equal, NotEqual, Less, Greater, Contains, Matches, Present };
enum class FilterTruth : uint8_t { False, True, Unknown };

// Comparisons in one expression, at most: the answers of a message's are
// kept on the stack.
inline constexpr size_t kMostFilterTests = 256;

// One comparison. id, name and direction are answered from a table of every
// direction and id, made when the filter is parsed; length and the fields
// when a message comes.
struct FilterTest {
  enum class Subject : uint8_t { Header, Length, Field };
  Subject subject = Subject::Field;
  FilterOperator op = FilterOperator::Equal;
  std::string key;  // Field
  bool numeric = false;
  uint64_t number = 0;
  std::string text;
  std::shared_ptr<const re2::RE2> pattern;  // Matches
  std::bitset<512> headers;                 // Header: holds for sent * 256 + id
};

// Whether a value satisfies the test: a number, or a text (for Matches,
// the test has its pattern).
bool holdsForNumber(const FilterTest& test, uint64_t value);
bool holdsForText(const FilterTest& test, std::string_view value);

struct FilterNode {
  enum class Kind : uint8_t { Test, Not, And, Or };
  Kind kind = Kind::Test;
  uint16_t first = 0;  // Test: the test's index; otherwise the first operand's node
  uint16_t second = 0;
};

class MessageFilter {
 public:
  // A message's fields are read only when the header leaves the answer open.
  bool passes(const MessageReader& message, bool sent) const;
  // A message too long to hold: none of its fields is there.
  bool passesHeader(const MessageHeader& header, bool sent) const;

 private:
  friend class FilterParser;

  FilterTruth evaluate(uint16_t node, const FilterTruth* truths) const;
  bool decide(uint8_t id, uint16_t length, bool sent, const MessageReader* message) const;

  std::vector<FilterTest> tests_;
  std::vector<FilterNode> nodes_;
  uint16_t root_ = 0;
  // sent * 256 + id: the message's fields hold a key some test names.
  std::bitset<512> keyed_;
  // Where byte runs are written as hex to be compared.
  mutable std::string hexScratch_;
};

// A filter, or what was wrong and where in the expression.
struct FilterParse {
  std::shared_ptr<const MessageFilter> filter;
  std::string problem;
  size_t at = 0;
  size_t length = 0;
};

FilterParse parseMessageFilter(std::string_view expression);

// The problem under the expression, the place marked: for an error message.
std::string describeFilterProblem(const FilterParse& parse, std::string_view expression);

// Every word the language knows, sorted: keys, message names, operators.
std::vector<std::string> filterWords();

}  // namespace vestrel
