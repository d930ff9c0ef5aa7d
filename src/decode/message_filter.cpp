#include "decode/message_filter.h"

#include <re2/re2.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "decode/decoder_sets.h"
#include "decode/field_walker.h"
#include "decode/file_time.h"
#include "decode/output_forms.h"

namespace vestrel {

namespace {

FilterTruth truthOf(bool holds) { return holds ? FilterTruth::True : FilterTruth::False; }

// Takes the values of the fields the tests name, as the walker reads them,
// and marks each test that one of them satisfies.
class FilterSink {
 public:
  static constexpr bool kFieldsEndWithTheMessage = true;
  static bool shows(const Field& /*field*/) { return true; }
  static bool showsEmptyLists() { return false; }

  FilterSink(const std::vector<FilterTest>& tests, FilterTruth* truths, std::string& hex)
      : tests_(tests), truths_(truths), hex_(hex) {}

  void number(const Field& field, uint32_t value) { takeNumber(field.key, value); }
  void code(const Field& field, uint32_t value) { takeNumber(field.key, value); }
  void flags(const Field& field, uint32_t value) { takeNumber(field.key, value); }
  void fourCharCode(const Field& field, std::span<const uint8_t, 4> bytes) {
    takeText(field.key, fourCharCodeText(bytes, true).view());
  }
  void address(const Field& field, std::span<const uint8_t, 4> octets) {
    takeText(field.key, dottedAddress(octets).view());
  }
  // The run, and the parts JSON writes beside it.
  void byteRun(const Field& field, std::span<const uint8_t> present) {
    takeHex(field.key, present);
    for (const Field& part : field.parts) {
      if (present.empty()) break;
      const std::span<const uint8_t> bytes = present.first(std::min<size_t>(part.count, present.size()));
      takeHex(part.key, bytes);
      present = present.subspan(bytes.size());
    }
  }
  void fixedText(const Field& field, std::string_view value) { takeText(field.key, value); }
  void hidden(const Field& /*field*/, std::span<const uint8_t> /*present*/) {}
  void fileTime(const Field& field, uint64_t value) {
    const CalendarTime time = calendarFromFileTime(value);
    char rfc3339[48];
    const int length = std::snprintf(rfc3339, sizeof rfc3339, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.year, time.month,
                                     time.day, time.hour, time.minute, time.second);
    takeText(field.key, {rfc3339, length > 0 ? static_cast<size_t>(length) : 0});
  }
  void text(const Field& field, std::string_view value) { takeText(field.key, value); }
  void shortenedText(const Field& field, std::string_view value) { takeText(field.key, value); }
  void literal(const Field& /*field*/) {}
  void beginList(const Field& /*list*/) {}
  void beginEntry(const Field& /*list*/, uint32_t /*index*/) {}
  void endEntry(const Field& /*list*/) {}
  void endList(const Field& /*list*/) {}
  // An empty first name is a list without channels, as in JSON.
  void channelName(const Field& list, std::string_view name, uint32_t /*index*/) {
    if (!name.empty()) takeText(list.key, name);
  }

  void takeHex(std::string_view key, std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (!named(key)) return;
    hex_.clear();
    for (const uint8_t byte : bytes) {
      hex_ += kDigits[byte >> 4];
      hex_ += kDigits[byte & 0x0F];
    }
    takeText(key, hex_);
  }

 private:
  bool named(std::string_view key) const {
    return std::ranges::any_of(tests_, [key](const FilterTest& test) {
      return test.subject == FilterTest::Subject::Field && test.key == key;
    });
  }

  void takeNumber(std::string_view key, uint32_t value) {
    for (size_t index = 0; index < tests_.size(); ++index) {
      const FilterTest& test = tests_[index];
      if (test.subject != FilterTest::Subject::Field || test.key != key) continue;
      if (test.op == FilterOperator::Present || (test.numeric && holdsForNumber(test, value))) {
        truths_[index] = FilterTruth::True;
      }
    }
  }

  void takeText(std::string_view key, std::string_view value) {
    for (size_t index = 0; index < tests_.size(); ++index) {
      const FilterTest& test = tests_[index];
      if (test.subject != FilterTest::Subject::Field || test.key != key) continue;
      if (truths_[index] != FilterTruth::True && !test.numeric && holdsForText(test, value)) {
        truths_[index] = FilterTruth::True;
      }
    }
  }

  const std::vector<FilterTest>& tests_;
  FilterTruth* truths_;
  std::string& hex_;
};

}  // namespace

bool holdsForNumber(const FilterTest& test, uint64_t value) {
  switch (test.op) {
    case FilterOperator::Equal: return value == test.number;
    case FilterOperator::NotEqual: return value != test.number;
    case FilterOperator::Less: return value < test.number;
    case FilterOperator::Greater: return value > test.number;
    case FilterOperator::Present: return true;
    case FilterOperator::Contains:
    case FilterOperator::Matches: break;
  }
  return false;
}

bool holdsForText(const FilterTest& test, std::string_view value) {
  switch (test.op) {
    case FilterOperator::Equal: return value == test.text;
    case FilterOperator::NotEqual: return value != test.text;
    case FilterOperator::Less: return value < test.text;
    case FilterOperator::Greater: return value > test.text;
    case FilterOperator::Contains: return value.find(test.text) != std::string_view::npos;
    case FilterOperator::Matches: return RE2::PartialMatch(value, *test.pattern);
    case FilterOperator::Present: return true;
  }
  return false;
}

// Kleene's three values: a side still unknown decides nothing unless the
// other side decides alone.
FilterTruth MessageFilter::evaluate(uint16_t node, const FilterTruth* truths) const {
  const FilterNode& current = nodes_[node];
  switch (current.kind) {
    case FilterNode::Kind::Test: return truths[current.first];
    case FilterNode::Kind::Not: {
      const FilterTruth operand = evaluate(current.first, truths);
      if (operand == FilterTruth::Unknown) return operand;
      return truthOf(operand == FilterTruth::False);
    }
    case FilterNode::Kind::And:
    case FilterNode::Kind::Or: {
      const FilterTruth decisive = current.kind == FilterNode::Kind::And ? FilterTruth::False : FilterTruth::True;
      const FilterTruth first = evaluate(current.first, truths);
      if (first == decisive) return decisive;
      const FilterTruth second = evaluate(current.second, truths);
      if (second == decisive) return decisive;
      return first == FilterTruth::Unknown || second == FilterTruth::Unknown ? FilterTruth::Unknown : first;
    }
  }
  return FilterTruth::Unknown;
}

bool MessageFilter::decide(uint8_t id, uint16_t length, bool sent, const MessageReader* message) const {
  std::array<FilterTruth, kMostFilterTests> truths;  // NOLINT(cppcoreguidelines-pro-type-member-init): set below
  const size_t headerIndex = (sent ? 256U : 0U) + id;
  for (size_t index = 0; index < tests_.size(); ++index) {
    const FilterTest& test = tests_[index];
    switch (test.subject) {
      case FilterTest::Subject::Header: truths[index] = truthOf(test.headers[headerIndex]); break;
      case FilterTest::Subject::Length: truths[index] = truthOf(holdsForNumber(test, length)); break;
      case FilterTest::Subject::Field: truths[index] = FilterTruth::Unknown; break;
    }
  }
  if (const FilterTruth answer = evaluate(root_, truths.data()); answer != FilterTruth::Unknown) {
    return answer == FilterTruth::True;
  }
  for (size_t index = 0; index < tests_.size(); ++index) {
    if (truths[index] == FilterTruth::Unknown) truths[index] = FilterTruth::False;
  }
  if (message != nullptr && keyed_[headerIndex]) {
    MessageReader fields = *message;  // reading moves its cursor
    FilterSink sink(tests_, truths.data(), hexScratch_);
    if (const DecoderEntry* decoder = findDecoder(id, sent, DecoderSet::Full)) {
      walkFields(fields, decoder->fields, sink);
    }
    if (!fields.exhausted()) sink.takeHex("trailing", fields.rest());
  }
  return evaluate(root_, truths.data()) == FilterTruth::True;
}

bool MessageFilter::passes(const MessageReader& message, bool sent) const {
  return decide(message.id(), static_cast<uint16_t>(message.size()), sent, &message);
}

bool MessageFilter::passesHeader(const MessageHeader& header, bool sent) const {
  return decide(header.id, header.length, sent, nullptr);
}

}  // namespace vestrel
