// The forms only the full set reads, at their edges: each row a message, the
// console's text and the JSON fields each connection on its own shows.
#include <gtest/gtest.h>

#include "decode/message_names.h"
#include "decoder_cases.h"

namespace vestrel::test {
namespace {

struct FullSetCase {
  const char* name;
  bool sent;
  Bytes message;
  Flags flags;
  std::string details;
  std::string fields;
};

void PrintTo(const FullSetCase& c, std::ostream* out) { *out << c.name; }

class FullSet : public ::testing::TestWithParam<FullSetCase> {};

TEST_P(FullSet, ShowsTheFieldsOnTheConsoleAndInJson) {
  EXPECT_EQ(decodedDetails(GetParam().sent, GetParam().message, GetParam().flags), GetParam().details);
  EXPECT_EQ(decodedJson(GetParam().sent, GetParam().message, GetParam().flags), GetParam().fields);
}

Bytes byte(uint8_t value) { return Bytes{value}; }

// A friend entry: account, status bits, location, product ("STAR" on the
// wire as "RATS"), where.
Bytes friendEntry(std::string_view account, uint8_t status) {
  return cstr(account) + byte(status) + byte(2) + Bytes{'R', 'A', 'T', 'S'} + cstr("Chat");
}

const std::string kEntry = "\t\t\t\t\t       ";
const std::string kLine = "\t\t\t\t       ";

INSTANTIATE_TEST_SUITE_P(
    Edges, FullSet,
    ::testing::Values(
        FullSetCase{"ListCountLargerThanTheMessage", false, msg(0x65, byte(3) + friendEntry("bob", 1)), kEveryMessage,
                    "Friends: 3\n" + kEntry +
                        "Friend 0: bob, Status: 0x01 (mutual), Location: 2 (in chat), Product: STAR, Where: Chat\n",
                    R"({"count":3,"friends":[{"account":"bob","status":{"value":1,"names":["mutual"]},)"
                    R"("location":{"code":2,"text":"in chat"},"product":"STAR","location_name":"Chat"}]})"},
        FullSetCase{"CountOf255InOneByte", false, msg(0x60, byte(255) + cstr("a") + cstr("b")), kEveryMessage,
                    "Candidates: 255\n" + kEntry + "Name 0: a\n" + kEntry + "Name 1: b\n",
                    R"({"count":255,"names":[{"name":"a"},{"name":"b"}]})"},
        FullSetCase{"CountedListOfNone", false, msg(0x60, byte(0)), kEveryMessage, "Candidates: 0\n",
                    R"({"count":0,"names":[]})"},
        FullSetCase{"UnnamedFlagBitsAsHex", false, msg(0x66, byte(0) + byte(0x89) + byte(7) + Bytes(4, 0) + cstr("")),
                    kEveryMessage, "Friend: 0, Status: 0x89 (mutual, 0x88), Location: 7, Product:     , Where: \n",
                    R"({"friend_index":0,"status":{"value":137,"names":["mutual","0x88"]},)"
                    R"("location":{"code":7,"text":null},"product":"","location_name":""})"},
        FullSetCase{"OptionalTailAbsent", false, msg(0x07, dword(2) + cstr("")), kEveryMessage,
                    "Result: 2 (ok), Patch path: \n", R"({"result":{"code":2,"text":"ok"},"patch_path":""})"},
        FullSetCase{"OptionalTailCutShort", false, msg(0x3A, dword(6) + Bytes{'l', 'o', 'c'}), kEveryMessageWithU,
                    "Result: 0x6 (Failed; Account locked)\n" + kLine + "Reason: loc\n",
                    R"({"result":{"code":6,"text":"Failed; Account locked"},"reason":"loc"})"},
        FullSetCase{"RunWrittenAsItsParts", false, msg(0x53, dword(0) + Bytes(32, 0x11) + Bytes(31, 0x22)),
                    kEveryMessage, "Result: 0x0 (Success)\n",
                    R"({"result":{"code":0,"text":"Success"},"unknown":")" + std::string(64, '1') +
                        std::string(62, '2') + R"(","salt":")" + std::string(64, '1') + R"(","server_key":")" +
                        std::string(62, '2') + R"("})"},
        FullSetCase{"PortInNetworkOrder", true, msg(0x1B, Bytes{2, 0, 0x17, 0xE0, 192, 0, 2, 1} + dword(0) + dword(0)),
                    kEveryMessage, "Address family: 2, Port: 6112, Address: 192.0.2.1\n",
                    R"({"address_family":2,"port":6112,"ip_address":"192.0.2.1","zero1":0,"zero2":0})"},
        FullSetCase{"ClanTagOfThreeLetters", true, msg(0x70, dword(1) + Bytes{'C', 'B', 'A', 0}), kEveryMessage,
                    "Cookie: 0x1, Clan:  ABC\n", R"({"cookie":1,"clan_tag":"ABC"})"},
        FullSetCase{"TrailingBytesWithoutU", false, msg(0x28, dword(0x10) + Bytes{0xAB, 0xCD}), kEveryMessage,
                    "Server token: 0x10\n", R"({"server_token":16,"trailing":"abcd"})"},
        FullSetCase{"TrailingBytesWithU", false, msg(0x28, dword(0x10) + Bytes{0xAB, 0xCD}), kEveryMessageWithU,
                    "Server token: 0x10\n" + kLine + "Trailing bytes: ABCD\n",
                    R"({"server_token":16,"trailing":"abcd"})"},
        FullSetCase{"TrailingBytesOfAMessageWithoutFields", true, msg(0x01, Bytes{1, 2}), kEveryMessageWithU,
                    "Trailing bytes: 0102\n", R"({"trailing":"0102"})"},
        FullSetCase{"NoTrailingBytesInTheClassicSet", false, msg(0x25, dword(1) + Bytes{9}), kUnknown,
                    "Ping value: 0x1\n", R"({"ping_value":1})"},
        FullSetCase{
            "ChatEventsHiddenFieldsLastWithU", false,
            msg(0x0F, dword(5) + dword(0) + dword(9) + dword(0) + dword(0xBAADF00D) + dword(0xBAADF00D) + cstr("bob") +
                          cstr("hi")),
            kEveryMessageWithU,
            "EID_TALK, Flags: 0x00, Ping: 9, User: bob, Text: hi\n" + kLine +
                "IP address: 0x0, Account number: 0xBAADF00D, Registration authority: 0xBAADF00D\n",
            R"({"event_id":{"code":5,"text":"EID_TALK"},"flags":0,"ping":9,"ip_address":0,)"
            R"("account_number":3131961357,"registration_authority":3131961357,"username":"bob","text":"hi"})"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FullSetNames, AreTheUsualOnesWhereTheClassicOnesMislead) {
  for (const auto& [id, classic, full] :
       {std::tuple{0x40, "SID_STARTVERSIONING2", "SID_QUERYREALMS2"},
        std::tuple{0x59, "SID_AUTH_RECONNECT", "SID_SETEMAIL"},
        std::tuple{0x79, "SID_CLANINVITE", "SID_CLANINVITATIONRESPONSE"},
        std::tuple{0x70, "SID_UNK0x70", "SID_CLANFINDCANDIDATES"}, std::tuple{0x62, "SID_UNK0x62", "SID_UNK0x62"}}) {
    EXPECT_STREQ(messageName(static_cast<uint8_t>(id), DecoderSet::Classic), classic);
    EXPECT_STREQ(messageName(static_cast<uint8_t>(id), DecoderSet::Full), full);
  }
}

}  // namespace
}  // namespace vestrel::test
