#include "decode/server_decoders.h"

#include "decode/client_decoders.h"
#include "decode/field_builders.h"

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

// Codes the classic texts leave to "any other" that the full set names.
constexpr CodeText kLogonResult2FullTexts[] = {{0, " (Success)\n"},
                                               {1, " (Failed; No such account)\n"},
                                               {2, " (Failed; Incorrect password)\n"},
                                               {6, " (Failed; Account locked)\n"}};
constexpr CodeTable kLogonResults2Full{kLogonResult2FullTexts, "\n"};

constexpr CodeText kAccountCreateResultFullTexts[] = {
    {0, "(Success), "},
    {4, "(Failed; Account exists), "},
    {7, "(Failed; Name too short), "},
    {8, "(Failed; Illegal characters), "},
    {9, "(Failed; Illegal words), "},
    {10, "(Failed; Insufficient alphanumeric characters), "},
    {11, "(Failed; Adjacent punctuation), "},
    {12, "(Failed; Excessive punctuation), "},
};
constexpr CodeTable kAccountCreateResultsFull{kAccountCreateResultFullTexts, "(Failed), "};

constexpr CodeText kLogonProofResultFullTexts[] = {{0, "(Success)"},
                                                   {2, "(Failed; Incorrect password)"},
                                                   {0x0E, "(Success; An e-mail address must be registered)"},
                                                   {0x0F, "(Failed; Custom error)"}};
constexpr CodeTable kLogonProofResultsFull{kLogonProofResultFullTexts, "(Failed)"};

// The full set's JSON also writes the runs as the fields they hold.
constexpr Field kLogonChallengeParts[] = {field::bytes("salt", "", 32, ""), field::bytes("server_key", "", 32, "")};
constexpr Field kServerProofPart[] = {field::bytes("server_proof", "", 20, "")};

#define INDENT "\t\t\t\t       "

constexpr Field kEnterChatReply[] = {
    {.form = Form::Text, .key = "unique_name", .format = "Unique name: %s, "},
    {.form = Form::Text, .key = "statstring", .format = "Statstring: %s, "},
    {.form = Form::Text, .key = "account_name", .format = "Account name: %s\n"},
};

// Names four to a line; the list ends at an empty name or the message's end.
constexpr Field kChannelList[] = {
    {.form = Form::ChannelList, .key = "channels", .format = "Channels: %s", .suffix = ".\n"},
};

// The chat event's fields the classic line and the full set share.
constexpr Field kEventId = {.form = Form::Code, .key = "event_id", .codes = &kChatEvents};
constexpr Field kEventFlags = {.form = Form::Number, .key = "flags", .format = "Flags: 0x%.2X, "};
constexpr Field kEventPing = {.form = Form::Number, .key = "ping", .format = "Ping: %u, "};
constexpr Field kEventUser = {.form = Form::Text, .key = "username", .format = "User: %s, "};
// Texts longer than 15 bytes are cut to 16 on the console.
constexpr Field kEventText = {.form = Form::ShortenedText,
                              .key = "text",
                              .format = "Text: %s\n",
                              .limit = 15,
                              .keep = 16,
                              .markedFormat = "Text: %s [...]\n"};

// Three dwords between the ping and the user are not shown.
constexpr Field kChatEvent[] = {
    kEventId,
    kEventFlags,
    kEventPing,
    {.form = Form::Hidden, .key = "ip_address", .count = 4},
    {.form = Form::Hidden, .key = "account_number", .count = 4},
    {.form = Form::Hidden, .key = "registration_authority", .count = 4},
    kEventUser,
    kEventText,
};

// The full set shows the three with -u, on a line after the classic one.
constexpr Field kChatEventFull[] = {
    kEventId,
    kEventFlags,
    kEventPing,
    {.form = Form::Number,
     .key = "ip_address",
     .format = INDENT "IP address: 0x%X, ",
     .withUnknown = true,
     .last = true},
    {.form = Form::Number,
     .key = "account_number",
     .format = "Account number: 0x%X, ",
     .withUnknown = true,
     .last = true},
    {.form = Form::Number,
     .key = "registration_authority",
     .format = "Registration authority: 0x%X\n",
     .withUnknown = true,
     .last = true},
    kEventUser,
    kEventText,
};

constexpr Field kLogonResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X", .codes = &kLogonResults},
};

constexpr Field kFileTimeReply[] = {
    {.form = Form::Number, .key = "request_id", .format = "Request ID: 0x%X, "},
    {.form = Form::Number, .key = "unknown", .format = "[Unknown]: 0x%X, ", .withUnknown = true},
    {.form = Form::FileTime, .key = "last_modified", .format = "Last modified: %u/%u/%u %u:%u:%u, "},
    {.form = Form::Text, .key = "filename", .format = "Filename: %s\n"},
};

constexpr Field kLogonResult2[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X", .codes = &kLogonResults2},
};

// A locked account's reason follows the result.
constexpr Field kLogonResult2Full[] = {
    field::withCodes(kLogonResult2[0], kLogonResults2Full),
    {.form = Form::Text, .key = "reason", .format = INDENT "Reason: %s\n", .ifBytesLeft = true, .withUnknown = true},
};

constexpr Field kAuthChallenge[] = {
    {.form = Form::Code, .key = "logon_type", .format = "Logon Type:\t %u", .codes = &kLogonTypes},
    {.form = Form::Number, .key = "server_token", .format = INDENT "Server Token:\t 0x%X\n"},
    {.form = Form::Number, .key = "udp_value", .format = INDENT "UDP Value:\t 0x%X\n"},
    {.form = Form::FileTime, .key = "mpq_filetime", .format = INDENT "MPQ Filetime:\t %u/%u/%u %u:%u:%u\n"},
    {.form = Form::Text, .key = "version_file_name", .format = INDENT "Verfile name:\t %s\n"},
    {.form = Form::Text, .key = "value_string", .format = INDENT "Valuestring:\t %s\n"},
};

// Logon type 2 adds the server's signature.
constexpr Field kAuthChallengeFull[] = {
    kAuthChallenge[0],
    kAuthChallenge[1],
    kAuthChallenge[2],
    kAuthChallenge[3],
    kAuthChallenge[4],
    kAuthChallenge[5],
    {.form = Form::ByteRun,
     .key = "server_signature",
     .format = INDENT "Server signature: ",
     .suffix = "\n",
     .count = 128,
     .ifBytesLeft = true,
     .withUnknown = true},
};

constexpr Field kAuthCheckResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X", .codes = &kAuthCheckResults},
    {.form = Form::Text, .key = "extra_info", .format = "Extra Info: %s", .suffix = "\n", .whenEmpty = " <none>"},
};

constexpr Field kAccountCreateResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X ", .codes = &kAccountCreateResults},
    {.form = Form::ByteRun, .key = "password_proof", .format = "Password Proof: ", .suffix = "\n", .count = 20},
};

constexpr Field kAccountLogonResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X ", .codes = &kAccountLogonResults},
    {.form = Form::ByteRun, .key = "unknown", .format = ", [Unknown]: ", .count = 64, .withUnknown = true},
    {.form = Form::Literal, .format = "\n"},
};

constexpr Field kLogonProofResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X ", .codes = &kLogonProofResults},
    {.form = Form::ByteRun, .key = "unknown", .format = ", [Unknown]: ", .count = 20, .withUnknown = true},
    {.form = Form::Literal, .format = "\n"},
};

// A custom error's text follows the proof.
constexpr Field kLogonProofResultFull[] = {
    field::withCodes(kLogonProofResult[0], kLogonProofResultsFull),
    field::splitInto(kLogonProofResult[1], kServerProofPart),
    kLogonProofResult[2],
    {.form = Form::Text,
     .key = "additional_info",
     .format = INDENT "Additional info: %s\n",
     .ifBytesLeft = true,
     .withUnknown = true},
};

constexpr Field kChangeProofResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X ", .codes = &kChangeProofResults},
    {.form = Form::ByteRun, .key = "unknown", .format = ", [Unknown]: ", .count = 20, .withUnknown = true},
    {.form = Form::Literal, .format = "\n"},
};

constexpr Field kUpgradeResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X ", .codes = &kUpgradeResults},
    {.form = Form::Number, .key = "server_key", .format = "Server key: 0x%X\n"},
};

// The proof is shown whatever -u says.
constexpr Field kUpgradeProofResult[] = {
    {.form = Form::Code, .key = "result", .format = "Result: 0x%X ", .codes = &kChangeProofResults},
    {.form = Form::ByteRun, .key = "password_proof", .format = ", Password proof: ", .suffix = "\n", .count = 20},
};

constexpr DecoderEntry kServerDecoders[] = {
    {0x0A, kEnterChatReply},   {0x0B, kChannelList},         {0x0F, kChatEvent},          {0x25, kPingFields},
    {0x29, kLogonResult},      {0x33, kFileTimeReply},       {0x3A, kLogonResult2},       {0x50, kAuthChallenge},
    {0x51, kAuthCheckResult},  {0x52, kAccountCreateResult}, {0x53, kAccountLogonResult}, {0x55, kAccountLogonResult},
    {0x54, kLogonProofResult}, {0x56, kChangeProofResult},   {0x57, kUpgradeResult},      {0x58, kUpgradeProofResult},
};

#undef INDENT

constexpr Field kAccountCreateResultFull[] = {field::withCodes(kAccountCreateResult[0], kAccountCreateResultsFull),
                                              kAccountCreateResult[1]};
constexpr Field kAccountLogonResultFull[] = {
    kAccountLogonResult[0], field::splitInto(kAccountLogonResult[1], kLogonChallengeParts), kAccountLogonResult[2]};
constexpr Field kChangeProofResultFull[] = {
    kChangeProofResult[0], field::splitInto(kChangeProofResult[1], kServerProofPart), kChangeProofResult[2]};

constexpr DecoderEntry kExtendedServerDecoders[] = {
    {0x0F, kChatEventFull},           {0x3A, kLogonResult2Full},       {0x50, kAuthChallengeFull},
    {0x52, kAccountCreateResultFull}, {0x53, kAccountLogonResultFull}, {0x54, kLogonProofResultFull},
    {0x55, kAccountLogonResultFull},  {0x56, kChangeProofResultFull},
};

}  // namespace

std::span<const DecoderEntry> serverDecoders() { return kServerDecoders; }

std::span<const DecoderEntry> extendedServerDecoders() { return kExtendedServerDecoders; }

}  // namespace vestrel
