#include "decode/client_decoders.h"

#include "decode/field_builders.h"

namespace vestrel {

namespace {

// The four tabs and seven blanks that put a continuation line's field under
// the summary line's details.
#define INDENT "\t\t\t\t       "
// A key entry's lines go one tab further.
#define KEY_INDENT "\t\t\t\t\t       "

constexpr Field kEnterChat[] = {
    {.form = Form::Text, .key = "username", .format = "Username: %s, "},
    {.form = Form::Text, .key = "statstring", .format = "Statstring: %s\n"},
};

constexpr Field kChannelListRequest[] = {
    {.form = Form::FourCharCode, .key = "product_id", .format = "Program ID: %s\n"},
};

constexpr Field kJoinChannel[] = {
    {.form = Form::Number, .key = "flags", .format = "Flags: 0x%.2X, "},
    {.form = Form::Text, .key = "channel_name", .format = "Channel Name: %s\n"},
};

// Commands longer than 32 bytes are cut to 33 on the console.
constexpr Field kChatCommand[] = {
    {.form = Form::ShortenedText,
     .key = "text",
     .format = "%s\n",
     .limit = 32,
     .keep = 33,
     .markedFormat = "%s [...]\n"},
};

// The hash line has no indent, and the user name follows it on that line.
constexpr Field kLogonResponse[] = {
    {.form = Form::Number, .key = "client_token", .format = "Client Token:\t 0x%X\n"},
    {.form = Form::Number, .key = "server_token", .format = INDENT "Server Token:\t 0x%X\n"},
    {.form = Form::ByteRun, .key = "password_hash", .format = "Password hash: ", .count = 20},
    {.form = Form::Text, .key = "username", .format = INDENT "Username:\t %s\n"},
};

constexpr Field kFileTimeRequest[] = {
    {.form = Form::Number, .key = "request_id", .format = "Request ID: 0x%X, "},
    {.form = Form::Number, .key = "unknown", .format = "[Unknown]: 0x%X, ", .withUnknown = true},
    {.form = Form::Text, .key = "filename", .format = "Filename: %s\n"},
};

constexpr Field kAuthInfo[] = {
    {.form = Form::Number, .key = "protocol_id", .format = "Protocol ID:\t %u\n"},
    {.form = Form::FourCharCode, .key = "platform_id", .format = INDENT "Platform ID:\t %s\n"},
    {.form = Form::FourCharCode, .key = "product_id", .format = INDENT "Program ID:\t %s\n"},
    {.form = Form::Number, .key = "version_byte", .format = INDENT "Version byte:\t 0x%X\n"},
    {.form = Form::Number, .key = "product_language", .format = INDENT "Product Langauge: %u\n"},
    {.form = Form::Address, .key = "local_ip", .format = INDENT "Local IP:\t %s\n"},
    // Unsigned, so a bias west of UTC shows as a large number.
    {.form = Form::Number, .key = "timezone_bias", .format = INDENT "Timezone Bias:\t %u\n"},
    {.form = Form::Number, .key = "locale_id", .format = INDENT "Locale ID:\t %u\n"},
    {.form = Form::Number, .key = "language_id", .format = INDENT "Langauge ID:\t %u\n"},
    {.form = Form::Text, .key = "country_abbreviation", .format = INDENT "Country Abbr.:\t %s\n"},
    {.form = Form::Text, .key = "country_name", .format = INDENT "Country Name:\t %s\n"},
};

// One 36-byte key entry, shown as far as the message goes: the count in
// front of the keys is the sender's word and may promise more than is there.
constexpr Field kKeyEntry[] = {
    {.form = Form::Number, .key = "key_length", .format = KEY_INDENT " Length:\t\t %u\n"},
    {.form = Form::Number, .key = "product_value", .format = KEY_INDENT " Product:\t %u\n", .ifBytesLeft = true},
    {.form = Form::Number, .key = "public_value", .format = KEY_INDENT " Public value:\t 0x%X\n", .ifBytesLeft = true},
    {.form = Form::Number,
     .key = "unknown",
     .format = KEY_INDENT " [Unknown]:\t 0x%X\n",
     .ifBytesLeft = true,
     .withUnknown = true},
    {.form = Form::ByteRun,
     .key = "key_hash",
     .format = KEY_INDENT " CD key hash:\t",
     .suffix = "\n",
     .count = 20,
     .ifBytesLeft = true},
};

constexpr Field kAuthCheck[] = {
    {.form = Form::Number, .key = "client_token", .format = "Client Token:\t 0x%X\n"},
    {.form = Form::Number, .key = "exe_version", .format = INDENT "EXE Version:\t 0x%X\n"},
    {.form = Form::Number, .key = "exe_hash", .format = INDENT "EXE Hash:\t 0x%X\n"},
    {.form = Form::Number, .key = "key_count", .format = INDENT "Number of keys:\t %u\n", .counter = Counter::First},
    {.form = Form::Number, .key = "spawn", .format = INDENT "Using Spawn:\t %u\n"},
    {.form = Form::List,
     .key = "keys",
     .format = KEY_INDENT "Key %u:\n",
     .counter = Counter::First,
     .entry = kKeyEntry},
    {.form = Form::Text, .key = "exe_info", .format = INDENT "EXE Info:\t %s\n"},
    {.form = Form::Text, .key = "key_owner", .format = INDENT "Key Owner:\t %s\n"},
};

constexpr Field kAccountCreate[] = {
    {.form = Form::ByteRun, .key = "password_data", .format = "Password data: ", .count = 64},
    {.form = Form::Text, .key = "account_name", .format = ", Account name: %s\n"},
};

constexpr Field kAccountLogon[] = {
    {.form = Form::ByteRun,
     .key = "unknown",
     .format = "[Unknown]: ",
     .suffix = ", ",
     .count = 32,
     .withUnknown = true},
    {.form = Form::Text, .key = "account_name", .format = "Account name: %s\n"},
};

constexpr Field kAccountLogonProof[] = {
    {.form = Form::ByteRun, .key = "unknown", .format = "[Unknown]: ", .count = 20, .withUnknown = true},
    {.form = Form::Literal, .format = "\n"},
};

// Unlike the logon, no separator follows the unknown bytes; without -u the
// line therefore starts with the comma.
constexpr Field kAccountChange[] = {
    {.form = Form::ByteRun, .key = "unknown", .format = "[Unknown]: ", .count = 32, .withUnknown = true},
    {.form = Form::Text, .key = "account_name", .format = ", Account name: %s\n"},
};

constexpr Field kAccountChangeProof[] = {
    {.form = Form::ByteRun, .key = "unknown", .format = "[Unknown]: ", .count = 84, .withUnknown = true},
    {.form = Form::Literal, .format = "\n"},
};

#undef INDENT
#undef KEY_INDENT

// The full set's JSON also writes the runs above as the fields they hold.
constexpr Field kPasswordDataParts[] = {field::bytes("salt", "", 32, ""), field::bytes("verifier", "", 32, "")};
constexpr Field kClientKeyPart[] = {field::bytes("client_key", "", 32, "")};
constexpr Field kClientProofPart[] = {field::bytes("client_proof", "", 20, "")};
constexpr Field kChangeProofParts[] = {field::bytes("old_password_proof", "", 20, ""),
                                       field::bytes("new_salt", "", 32, ""), field::bytes("new_verifier", "", 32, "")};

constexpr Field kAccountCreateFull[] = {field::splitInto(kAccountCreate[0], kPasswordDataParts), kAccountCreate[1]};
constexpr Field kAccountLogonFull[] = {field::splitInto(kAccountLogon[0], kClientKeyPart), kAccountLogon[1]};
constexpr Field kAccountLogonProofFull[] = {field::splitInto(kAccountLogonProof[0], kClientProofPart),
                                            kAccountLogonProof[1]};
constexpr Field kAccountChangeFull[] = {field::splitInto(kAccountChange[0], kClientKeyPart), kAccountChange[1]};
constexpr Field kAccountChangeProofFull[] = {field::splitInto(kAccountChangeProof[0], kChangeProofParts),
                                             kAccountChangeProof[1]};

constexpr DecoderEntry kExtendedClientDecoders[] = {
    {0x52, kAccountCreateFull}, {0x53, kAccountLogonFull},       {0x54, kAccountLogonProofFull},
    {0x55, kAccountChangeFull}, {0x56, kAccountChangeProofFull},
};

constexpr DecoderEntry kClientDecoders[] = {
    {0x0A, kEnterChat},         {0x0B, kChannelListRequest}, {0x0C, kJoinChannel},        {0x0E, kChatCommand},
    {0x25, kPingFields},        {0x29, kLogonResponse},      {0x3A, kLogonResponse},      {0x33, kFileTimeRequest},
    {0x50, kAuthInfo},          {0x51, kAuthCheck},          {0x52, kAccountCreate},      {0x53, kAccountLogon},
    {0x54, kAccountLogonProof}, {0x55, kAccountChange},      {0x56, kAccountChangeProof}, {0x58, kAccountChangeProof},
};

}  // namespace

std::span<const DecoderEntry> clientDecoders() { return kClientDecoders; }

std::span<const DecoderEntry> extendedClientDecoders() { return kExtendedClientDecoders; }

}  // namespace vestrel
