// The JSON view: each field form's value, texts byte for byte whatever they
// hold, and the members every object carries.
#include <gtest/gtest.h>

#include <sstream>

#include <cctype>

#include "decoder_cases.h"
#include "stream/message_printer.h"

namespace vestrel::test {
namespace {

struct JsonCase {
  const char* name;
  bool sent;
  Bytes message;
  Flags flags;
  std::string fields;
};

void PrintTo(const JsonCase& c, std::ostream* out) { *out << c.name; }

class JsonFields : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonFields, WritesEachValueByItsForm) {
  EXPECT_EQ(decodedJson(GetParam().sent, GetParam().message, GetParam().flags), GetParam().fields);
}

// Byte runs are lower-case hex in JSON.
std::string lowerHex(size_t count) {
  std::string hex = countingHex(count);
  for (char& digit : hex) digit = static_cast<char>(std::tolower(static_cast<unsigned char>(digit)));
  return hex;
}

Bytes chatEvent(uint32_t event, std::string_view user, std::string_view text) {
  return msg(0x0F, dword(event) + dword(0) + dword(32) + Bytes(12, 0xEE) + cstr(user) + cstr(text));
}

// An AUTH_CHECK that promises three keys and holds one and a part.
Bytes keysPastTheMessage() {
  return msg(0x51, dword(1) + dword(2) + dword(3) + dword(3) + dword(0) + dword(16) + dword(4) + dword(5) + dword(6) +
                       counting(20) + dword(16) + Bytes{7, 0});
}

INSTANTIATE_TEST_SUITE_P(
    Forms, JsonFields,
    ::testing::Values(
        JsonCase{"Escapes", true, msg(0x0E, cstr("a\"b\\c\nd\te\x1B\x7F/")), kPlain,
                 R"({"text":"a\"b\\c\nd\te\u001b\u007f/"})"},
        JsonCase{"NotUtf8BytesAreTheirCodePoints", true,
                 msg(0x0E, cstr("caf\xE9 \xC3\xA9 \xC2\x9B \xE2\x80\xAE \xED\xA0\x80 \xF0\x9F")), kPlain,
                 "{\"text\":\"caf\\u00e9 \xC3\xA9 \\u009b \\u202e \\u00ed\\u00a0\\u0080 \\u00f0\\u009f\"}"},
        JsonCase{"TextsNeverShortened", false, chatEvent(5, "bob", "sixteen bytes or more"), kPlain,
                 R"({"event_id":{"code":5,"text":"EID_TALK"},"flags":0,"ping":32,"username":"bob",)"
                 R"("text":"sixteen bytes or more"})"},
        JsonCase{"UnknownCode", false, chatEvent(0x1A, "u", ""), kPlain,
                 R"({"event_id":{"code":26,"text":null},"flags":0,"ping":32,"username":"u","text":""})"},
        JsonCase{"UnknownCodeTheConsoleCallsFailed", false, msg(0x53, dword(9)), kPlain,
                 R"({"result":{"code":9,"text":null}})"},
        JsonCase{"CodeMeaningWithoutPunctuation", false, msg(0x51, dword(0x201) + cstr("x")), kPlain,
                 R"({"result":{"code":513,"text":"Failed; CD key in use"},"extra_info":"x"})"},
        JsonCase{"FourCharCodeStopsAtZero", true, msg(0x0B, Bytes{'A', 0, 'C', 'D'}), kPlain, R"({"product_id":"A"})"},
        JsonCase{"FieldsEndWithTheMessage", true,
                 msg(0x50, dword(0xFFFFFFFF) + Bytes{'6', '8', 'X', 'I', 'P', 'X', '3', 'W'} + dword(28) + dword(0) +
                               Bytes{192, 0, 2, 10}),
                 kPlain,
                 R"({"protocol_id":4294967295,"platform_id":"68XI","product_id":"PX3W","version_byte":28,)"
                 R"("product_language":0,"local_ip":"192.0.2.10"})"},
        JsonCase{"FileTime", false, msg(0x33, dword(1) + dword(9) + dword(0x88F6E507) + dword(0x01DD8617) + cstr("f")),
                 kPlain, R"({"request_id":1,"last_modified":"2026-12-07T06:52:33Z","filename":"f"})"},
        JsonCase{"KeyCountPastTheMessage", true, keysPastTheMessage(), kPlain,
                 R"({"client_token":1,"exe_version":2,"exe_hash":3,"key_count":3,"spawn":0,"keys":[)"
                 R"({"key_length":16,"product_value":4,"public_value":5,"key_hash":")" +
                     lowerHex(20) + R"("},{"key_length":16,"product_value":7}]})"},
        JsonCase{"UnknownFieldsWithU", true, msg(0x53, counting(32) + cstr("bob")), kUnknown,
                 R"({"unknown":")" + lowerHex(32) + R"(","account_name":"bob"})"},
        JsonCase{"UnknownFieldsWithoutU", true, msg(0x53, counting(32) + cstr("bob")), kPlain,
                 R"({"account_name":"bob"})"},
        JsonCase{"ChannelList", false, msg(0x0B, cstr("a") + cstr("b") + cstr("")), kPlain,
                 R"({"channels":["a","b"]})"},
        JsonCase{"NoChannels", false, msg(0x0B, cstr("")), kPlain, R"({"channels":[]})"},
        JsonCase{"NoDecoder", true, msg(0x99, counting(3)), kPlain, "{}"}),
    [](const auto& info) { return std::string(info.param.name); });

// The members around the fields: time, connection, direction, id, name,
// length and raw; and the objects that are not messages.
TEST(JsonObjects, CarryTheirMembersInOrder) {
  ConsoleCapture output;
  OutputSettings settings;
  MessagePrinter printer(settings, {.json = true, .hex = true});
  ConnectionKey key;
  key.client.v6 = true;
  key.client.bytes[15] = 1;
  key.server.bytes = {10, 0, 0, 1};
  key.clientPort = 50312;
  key.serverPort = 6112;
  printer.setFrameTime({86400, 5});
  const Bytes proof = msg(0x54, counting(20));
  MessageReader reader;
  reader.attach(proof.data());
  printer.printMessage(reader, true, &key);
  printer.printTooLong({0xFF, 0x0F, 0xFF01}, false);
  printer.printEvent(key, {.change = ConnectionChange::Lost, .sent = false, .bytes = 12});
  printer.printEvent(key, {.change = ConnectionChange::Closed, .reason = CloseReason::PortsReused});
  const std::string connection =
      R"("connection":{"client":{"address":"::1","port":50312},"server":{"address":"10.0.0.1","port":6112}})";
  const std::string time = R"({"time":"1970-01-02T00:00:00.000005Z",)";
  EXPECT_EQ(
      output.text(),
      time + connection +
          R"(,"direction":"sent","id":84,"name":"SID_AUTH_ACCOUNTLOGONPROOF","length":24,"fields":{},"raw":"ff541800)" +
          lowerHex(20) + "\"}\n" + time +
          R"("event":"too_long","direction":"received","id":15,"name":"SID_CHATEVENT","length":65281})" + "\n" + time +
          connection + R"(,"event":"lost","direction":"received","bytes":12})" + "\n" + time + connection +
          R"(,"event":"closed","reason":"ports_reused"})" + "\n");
}

// Times as a capture may store them: microseconds past a second, below
// zero, or a second no RFC 3339 text can hold.
struct TimeCase {
  const char* name;
  timeval time;
  std::string json;
};

void PrintTo(const TimeCase& c, std::ostream* out) { *out << c.name; }

class JsonTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(JsonTime, IsValidRfc3339OrNull) {
  ConsoleCapture output;
  OutputSettings settings;
  MessagePrinter printer(settings, {.json = true});
  printer.setFrameTime(GetParam().time);
  printer.printTooLong({0xFF, 0x0F, 0xFF01}, false);
  const std::string text = output.text();
  EXPECT_EQ(text.substr(0, text.find(",\"event\"")), "{\"time\":" + GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, JsonTime,
    ::testing::Values(TimeCase{"MicrosecondsCarried", {86400, 1999999}, R"("1970-01-02T00:00:01.999999Z")"},
                      TimeCase{"NegativeMicroseconds", {86400, -1}, R"("1970-01-01T23:59:59.999999Z")"},
                      TimeCase{"AllOnesMicroseconds", {86400, 4294967295}, R"("1970-01-02T01:11:34.967295Z")"},
                      TimeCase{"BeforeTheEpoch", {-1, 0}, R"("1969-12-31T23:59:59.000000Z")"},
                      TimeCase{"LastSecondOfYear9999", {253402300799, 0}, R"("9999-12-31T23:59:59.000000Z")"},
                      TimeCase{"PastYear9999", {253402300800, 0}, "null"},
                      TimeCase{"BeforeYear1", {-62135596801, 0}, "null"}),
    [](const auto& info) { return std::string(info.param.name); });

// The events a connection's damage and attacks leave.
TEST(JsonObjects, AnomaliesCarryTheirCountsAndReasons) {
  ConsoleCapture output;
  OutputSettings settings;
  MessagePrinter printer(settings, {.json = true});
  ConnectionKey key;
  printer.printEvent(key, {.change = ConnectionChange::Skipped, .sent = true, .bytes = 2});
  printer.printEvent(key, {.change = ConnectionChange::Incomplete, .bytes = 5, .messageLength = 8});
  printer.printEvent(key, {.change = ConnectionChange::Incomplete, .bytes = 2});
  printer.printEvent(key, {.change = ConnectionChange::NotDelivered, .bytes = 9, .refusal = Refusal::AfterFin});
  printer.printEvent(
      key, {.change = ConnectionChange::Ignored, .sent = true, .refusal = Refusal::NotAtNextByte, .flag = 0x04});
  std::string events;
  std::istringstream lines(output.text());
  for (std::string line; std::getline(lines, line);) events += line.substr(line.find("\"event\"")) + "\n";
  EXPECT_EQ(events, R"("event":"skipped","direction":"sent","bytes":2}
"event":"incomplete","direction":"received","bytes":5,"length":8}
"event":"incomplete","direction":"received","bytes":2}
"event":"not_delivered","direction":"received","bytes":9,"reason":"after_fin"}
"event":"ignored","direction":"sent","flag":"RST","reason":"not_at_next_byte"}
)");
}

}  // namespace
}  // namespace vestrel::test
