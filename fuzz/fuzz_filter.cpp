// -Y's parser on any expression, and a filter that parses on any message:
// the input is the expression, a newline, then the message's id, a byte
// whose lowest bit says it was sent, and its body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "decode/message_filter.h"

namespace vestrel::fuzz {
namespace {

constexpr size_t kLargestMessage = 4096;

// A message of exactly its size, so a read past it is a read past the
// allocation.
std::vector<uint8_t> messageOf(uint8_t id, std::string_view body) {
  const size_t length = MessageHeader::kLength + std::min(body.size(), kLargestMessage - MessageHeader::kLength);
  std::vector<uint8_t> message = {MessageHeader::kMarker, id, static_cast<uint8_t>(length),
                                  static_cast<uint8_t>(length >> 8)};
  message.insert(message.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length - 4));
  return message;
}

void check(std::string_view input) {
  const size_t end = input.find('\n');
  const std::string_view expression = input.substr(0, end);
  const FilterParse parse = parseMessageFilter(expression);
  if (!parse.filter) {
    // Every refusal says what and where, within the expression.
    if (parse.problem.empty() || parse.at > expression.size()) std::abort();
    static_cast<void>(describeFilterProblem(parse, expression));
    return;
  }
  const std::string_view rest = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  const uint8_t id = rest.empty() ? 0 : static_cast<uint8_t>(rest[0]);
  const bool sent = rest.size() > 1 && (rest[1] & 1) != 0;
  const std::vector<uint8_t> message = messageOf(id, rest.size() > 2 ? rest.substr(2) : std::string_view());
  MessageReader reader;
  reader.attach(message.data());
  const bool passes = parse.filter->passes(reader, sent);
  // A message without fields is a message too long to hold, as far as the
  // header goes: the same answer.
  if (message.size() == MessageHeader::kLength &&
      passes != parse.filter->passesHeader(MessageHeader::read(message.data()), sent)) {
    std::abort();
  }
}

}  // namespace
}  // namespace vestrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vestrel::fuzz::check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
