#include "decode/client_decoders.h"

#include "decode/output_forms.h"
#include "stream/console.h"

namespace vestrel {

namespace {

void decodeEnterChat(MessageReader& reader, const Options&) {
  printText(reader, "Username: %s, ");
  printText(reader, "Statstring: %s\n");
}

void decodeChannelListRequest(MessageReader& reader, const Options&) { printFourCharCode(reader, "Program ID: %s\n"); }

void decodeJoinChannel(MessageReader& reader, const Options&) {
  printNumber(reader, "Flags: 0x%.2X, ");
  printText(reader, "Channel Name: %s\n");
}

// Commands longer than 32 bytes are cut to 33 on the console.
void decodeChatCommand(MessageReader& reader, const Options& options) {
  printTruncated(reader, options, 32, 33, "%s\n", "%s [...]\n");
}

// The hash line has no indent, and the user name follows it on that line.
void decodeLogonResponse(MessageReader& reader, const Options&) {
  printNumber(reader, "Client Token:\t 0x%X\n");
  printNumber(reader, "\t\t\t\t       Server Token:\t 0x%X\n");
  consolePrint("Password hash: ");
  printByteRun(reader, 20);
  printText(reader, "\t\t\t\t       Username:\t %s\n");
}

void decodeFileTimeRequest(MessageReader& reader, const Options& options) {
  printNumber(reader, "Request ID: 0x%X, ");
  printUnknownNumber(reader, options, "[Unknown]: 0x%X, ");
  printText(reader, "Filename: %s\n");
}

void decodeAuthInfo(MessageReader& reader, const Options&) {
  printNumber(reader, "Protocol ID:\t %u\n");
  printFourCharCode(reader, "\t\t\t\t       Platform ID:\t %s\n");
  printFourCharCode(reader, "\t\t\t\t       Program ID:\t %s\n");
  printNumber(reader, "\t\t\t\t       Version byte:\t 0x%X\n");
  printNumber(reader, "\t\t\t\t       Product Langauge: %u\n");
  printAddress(reader, "\t\t\t\t       Local IP:\t %s\n");
  // Unsigned, so a bias west of UTC shows as a large number.
  printNumber(reader, "\t\t\t\t       Timezone Bias:\t %u\n");
  printNumber(reader, "\t\t\t\t       Locale ID:\t %u\n");
  printNumber(reader, "\t\t\t\t       Langauge ID:\t %u\n");
  printText(reader, "\t\t\t\t       Country Abbr.:\t %s\n");
  printText(reader, "\t\t\t\t       Country Name:\t %s\n");
}

// One 36-byte key entry, printed as far as the message goes: the count in
// front of the keys is the sender's word and may promise more than is there.
void printKeyEntry(MessageReader& reader, const Options& options, uint32_t index) {
  consolePrint("\t\t\t\t\t       Key %u:\n", index);
  printNumber(reader, "\t\t\t\t\t        Length:\t\t %u\n");
  if (reader.exhausted()) return;
  printNumber(reader, "\t\t\t\t\t        Product:\t %u\n");
  if (reader.exhausted()) return;
  printNumber(reader, "\t\t\t\t\t        Public value:\t 0x%X\n");
  if (reader.exhausted()) return;
  printUnknownNumber(reader, options, "\t\t\t\t\t        [Unknown]:\t 0x%X\n");
  if (reader.exhausted()) return;
  consolePrint("\t\t\t\t\t        CD key hash:\t");
  printByteRun(reader, 20);
  consolePrint("\n");
}

void decodeAuthCheck(MessageReader& reader, const Options& options) {
  printNumber(reader, "Client Token:\t 0x%X\n");
  printNumber(reader, "\t\t\t\t       EXE Version:\t 0x%X\n");
  printNumber(reader, "\t\t\t\t       EXE Hash:\t 0x%X\n");
  const uint32_t keyCount = printNumber(reader, "\t\t\t\t       Number of keys:\t %u\n");
  printNumber(reader, "\t\t\t\t       Using Spawn:\t %u\n");
  for (uint32_t key = 0; key < keyCount && !reader.exhausted(); ++key) printKeyEntry(reader, options, key);
  printText(reader, "\t\t\t\t       EXE Info:\t %s\n");
  printText(reader, "\t\t\t\t       Key Owner:\t %s\n");
}

void decodeAccountCreate(MessageReader& reader, const Options&) {
  consolePrint("Password data: ");
  printByteRun(reader, 64);
  printText(reader, ", Account name: %s\n");
}

void decodeAccountLogon(MessageReader& reader, const Options& options) {
  printUnknownBytes(reader, options, "[Unknown]: ", 32, ", ");
  printText(reader, "Account name: %s\n");
}

void decodeAccountLogonProof(MessageReader& reader, const Options& options) {
  printUnknownBytes(reader, options, "[Unknown]: ", 20);
  consolePrint("\n");
}

// Unlike the logon, no separator follows the unknown bytes; without -u the
// line therefore starts with the comma.
void decodeAccountChange(MessageReader& reader, const Options& options) {
  printUnknownBytes(reader, options, "[Unknown]: ", 32);
  printText(reader, ", Account name: %s\n");
}

void decodeAccountChangeProof(MessageReader& reader, const Options& options) {
  printUnknownBytes(reader, options, "[Unknown]: ", 84);
  consolePrint("\n");
}

constexpr DecoderEntry kClientDecoders[] = {
    {0x0A, decodeEnterChat},
    {0x0B, decodeChannelListRequest},
    {0x0C, decodeJoinChannel},
    {0x0E, decodeChatCommand},
    {0x25, decodePing},
    {0x29, decodeLogonResponse},
    {0x3A, decodeLogonResponse},
    {0x33, decodeFileTimeRequest},
    {0x50, decodeAuthInfo},
    {0x51, decodeAuthCheck},
    {0x52, decodeAccountCreate},
    {0x53, decodeAccountLogon},
    {0x54, decodeAccountLogonProof},
    {0x55, decodeAccountChange},
    {0x56, decodeAccountChangeProof},
    {0x58, decodeAccountChangeProof},
};

}  // namespace

void decodePing(MessageReader& reader, const Options&) { printNumber(reader, "Ping value: 0x%X\n"); }

std::span<const DecoderEntry> clientDecoders() { return kClientDecoders; }

}  // namespace vestrel
