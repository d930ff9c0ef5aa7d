#include "decode/server_decoders.h"

#include "decode/client_decoders.h"
#include "decode/output_forms.h"
#include "stream/console.h"

namespace vestrel {

namespace {

constexpr CodeText kChatEventNames[] = {
    {1, "EID_SHOWUSER, "},
    {2, "EID_JOIN, "},
    {3, "EID_LEAVE, "},
    {4, "EID_WHISPER, "},
    {5, "EID_TALK, "},
    {6, "EID_BROADCAST, "},
    {7, "EID_CHANNEL, "},
    {9, "EID_USERFLAGS, "},
    {10, "EID_WHISPERSENT, "},
    {13, "EID_CHANNELFULL, "},
    {14, "EID_CHANNELDOESNOTEXIST, "},
    {15, "EID_CHANNELRESTRICTED, "},
    {18, "EID_INFO, "},
    {19, "EID_ERROR, "},
    {23, "EID_EMOTE, "},
};
constexpr CodeTable kChatEvents{kChatEventNames, "EID_UNK0x%8.8X, "};

constexpr CodeText kLogonResultTexts[] = {{0, " (Failed)\n"}, {1, " (Success)\n"}};
constexpr CodeTable kLogonResults{kLogonResultTexts, "\n"};

constexpr CodeText kLogonResult2Texts[] = {
    {0, " (Success)\n"}, {1, " (Failed; No such account)\n"}, {2, " (Failed; Incorrect password)\n"}};
constexpr CodeTable kLogonResults2{kLogonResult2Texts, "\n"};

constexpr CodeText kLogonTypeTexts[] = {{0, " (Broken SHA-1)\n"}, {1, " (NLS version 1)\n"}, {2, " (NLS version 2)\n"}};
constexpr CodeTable kLogonTypes{kLogonTypeTexts, "\n"};

// An unknown code adds nothing: the extra information follows the number.
constexpr CodeText kAuthCheckResultTexts[] = {
    {0x000, " (Passed), "},
    {0x100, " (Failed; User must upgrade), "},
    {0x101, " (Failed; Invalid version), "},
    {0x102, " (Failed; User must downgrade), "},
    {0x200, " (Failed; Invalid CD key), "},
    {0x201, " (Failed; CD key in use), "},
    {0x202, " (Failed; CD key is banned), "},
    {0x203, " (Failed; CD key doesn't match product), "},
};
constexpr CodeTable kAuthCheckResults{kAuthCheckResultTexts, ""};

constexpr CodeText kAccountCreateResultTexts[] = {
    {0, "(Success), "},
    {7, "(Failed; Name too short), "},
    {8, "(Failed; Illegal characters), "},
    {9, "(Failed; Illegal words), "},
    {10, "(Failed; Insufficient alphanumeric characters), "},
    {11, "(Failed; Adjacent punctuation), "},
    {12, "(Failed; Excessive punctuation), "},
};
constexpr CodeTable kAccountCreateResults{kAccountCreateResultTexts, "(Failed), "};

constexpr CodeText kAccountLogonResultTexts[] = {
    {0, "(Success)"}, {1, "(Failed; No such account)"}, {5, "(Failed; Account requires upgrade)"}};
constexpr CodeTable kAccountLogonResults{kAccountLogonResultTexts, "(Failed)"};

constexpr CodeText kLogonProofResultTexts[] = {{0, "(Success)"}, {2, "(Failed; Incorrect password)"}};
constexpr CodeTable kLogonProofResults{kLogonProofResultTexts, "(Failed)"};

constexpr CodeText kChangeProofResultTexts[] = {{0, "(Success)"}, {2, "(Failed; Incorrect old password)"}};
constexpr CodeTable kChangeProofResults{kChangeProofResultTexts, "(Failed)"};

constexpr CodeText kUpgradeResultTexts[] = {{0, "(Success), "}};
constexpr CodeTable kUpgradeResults{kUpgradeResultTexts, "(Failed), "};

void decodeEnterChatReply(MessageReader& reader, const Options&) {
  printText(reader, "Unique name: %s, ");
  printText(reader, "Statstring: %s, ");
  printText(reader, "Account name: %s\n");
}

// Names four to a line; the list ends at an empty name or the message's end.
void decodeChannelList(MessageReader& reader, const Options&) {
  printText(reader, "Channels: %s");
  int onLine = 0;
  for (std::string_view name = reader.readString(); !name.empty(); name = reader.readString()) {
    consolePrint(",");
    if (++onLine == 4) {
      consolePrint("\n\t\t\t\t      ");
      onLine = 0;
    }
    printText(" %s", name);
  }
  consolePrint(".\n");
}

// Texts longer than 15 bytes are cut to 16 on the console.
void decodeChatEvent(MessageReader& reader, const Options& options) {
  printCode(reader, kChatEvents);
  printNumber(reader, "Flags: 0x%.2X, ");
  printNumber(reader, "Ping: %u, ");
  reader.skip(12);  // three dwords the console does not show
  printText(reader, "User: %s, ");
  printTruncated(reader, options, 15, 16, "Text: %s\n", "Text: %s [...]\n");
}

void decodeLogonResult(MessageReader& reader, const Options&) { printCode(reader, "Result: 0x%X", kLogonResults); }

void decodeFileTimeReply(MessageReader& reader, const Options& options) {
  printNumber(reader, "Request ID: 0x%X, ");
  printUnknownNumber(reader, options, "[Unknown]: 0x%X, ");
  printFileTime(reader, "Last modified: %u/%u/%u %u:%u:%u, ");
  printText(reader, "Filename: %s\n");
}

void decodeLogonResult2(MessageReader& reader, const Options&) { printCode(reader, "Result: 0x%X", kLogonResults2); }

void decodeAuthChallenge(MessageReader& reader, const Options&) {
  printCode(reader, "Logon Type:\t %u", kLogonTypes);
  printNumber(reader, "\t\t\t\t       Server Token:\t 0x%X\n");
  printNumber(reader, "\t\t\t\t       UDP Value:\t 0x%X\n");
  printFileTime(reader, "\t\t\t\t       MPQ Filetime:\t %u/%u/%u %u:%u:%u\n");
  printText(reader, "\t\t\t\t       Verfile name:\t %s\n");
  printText(reader, "\t\t\t\t       Valuestring:\t %s\n");
}

void decodeAuthCheckResult(MessageReader& reader, const Options&) {
  printCode(reader, "Result: 0x%X", kAuthCheckResults);
  if (printText(reader, "Extra Info: %s").empty()) consolePrint(" <none>");
  consolePrint("\n");
}

void decodeAccountCreateResult(MessageReader& reader, const Options&) {
  printCode(reader, "Result: 0x%X ", kAccountCreateResults);
  consolePrint("Password Proof: ");
  printByteRun(reader, 20);
  consolePrint("\n");
}

void decodeAccountLogonResult(MessageReader& reader, const Options& options) {
  printCode(reader, "Result: 0x%X ", kAccountLogonResults);
  printUnknownBytes(reader, options, ", [Unknown]: ", 64);
  consolePrint("\n");
}

void decodeProofResult(MessageReader& reader, const Options& options, const CodeTable& results) {
  printCode(reader, "Result: 0x%X ", results);
  printUnknownBytes(reader, options, ", [Unknown]: ", 20);
  consolePrint("\n");
}

void decodeLogonProofResult(MessageReader& reader, const Options& options) {
  decodeProofResult(reader, options, kLogonProofResults);
}

void decodeChangeProofResult(MessageReader& reader, const Options& options) {
  decodeProofResult(reader, options, kChangeProofResults);
}

void decodeUpgradeResult(MessageReader& reader, const Options&) {
  printCode(reader, "Result: 0x%X ", kUpgradeResults);
  printNumber(reader, "Server key: 0x%X\n");
}

// The proof is shown whatever -u says.
void decodeUpgradeProofResult(MessageReader& reader, const Options&) {
  printCode(reader, "Result: 0x%X ", kChangeProofResults);
  consolePrint(", Password proof: ");
  printByteRun(reader, 20);
  consolePrint("\n");
}

constexpr DecoderEntry kServerDecoders[] = {
    {0x0A, decodeEnterChatReply},     {0x0B, decodeChannelList},
    {0x0F, decodeChatEvent},          {0x25, decodePing},
    {0x29, decodeLogonResult},        {0x33, decodeFileTimeReply},
    {0x3A, decodeLogonResult2},       {0x50, decodeAuthChallenge},
    {0x51, decodeAuthCheckResult},    {0x52, decodeAccountCreateResult},
    {0x53, decodeAccountLogonResult}, {0x55, decodeAccountLogonResult},
    {0x54, decodeLogonProofResult},   {0x56, decodeChangeProofResult},
    {0x57, decodeUpgradeResult},      {0x58, decodeUpgradeProofResult},
};

}  // namespace

std::span<const DecoderEntry> serverDecoders() { return kServerDecoders; }

}  // namespace vestrel
