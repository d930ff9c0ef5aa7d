// The full set's logon and account messages: client identification, the
// old version check, CD keys, the hash-path logon and account messages,
// and the e-mail messages. The classic ones (0x29, 0x3A, 0x50-0x58) are in
// the classic tables.
#include "decode/decoder_sets.h"
#include "decode/field_builders.h"

namespace vestrel {

namespace {

using namespace field;  // NOLINT(google-build-using-namespace): the tables read as field lists

// A field a line, as the protocol's field lists are written.
// clang-format off

constexpr CodeText kVersionResultTexts[] = {{0, "bad version"}, {1, "update needed"}, {2, "ok"}};
constexpr CodeTable kVersionResults{.rows = kVersionResultTexts, .plain = true};

constexpr CodeText kCreatedTexts[] = {{0, "failed"}, {1, "created"}};
constexpr CodeTable kCreated{.rows = kCreatedTexts, .plain = true};

constexpr CodeText kChangedTexts[] = {{0, "failed"}, {1, "changed"}};
constexpr CodeTable kChanged{.rows = kChangedTexts, .plain = true};

constexpr CodeText kKeyResultTexts[] = {
    {1, "ok"}, {2, "bad key"}, {3, "wrong product"}, {4, "disabled"}, {5, "in use"}};
constexpr CodeTable kKeyResults{.rows = kKeyResultTexts, .plain = true};

constexpr CodeText kKey3ResultTexts[] = {{0, "ok"}};
constexpr CodeTable kKey3Results{.rows = kKey3ResultTexts, .plain = true};

constexpr CodeText kAccountStatusTexts[] = {
    {0, "created"}, {1, "name too short"}, {2, "invalid characters"}, {3, "banned word"}, {4, "exists"},
    {5, "creation in progress"}, {6, "too few alphanumeric characters"}, {7, "adjacent punctuation"},
    {8, "too much punctuation"},
};
constexpr CodeTable kAccountStatuses{.rows = kAccountStatusTexts, .plain = true};

constexpr Field kRegistration[] = {
    u32("registration_version", "Registration version: %u, "),
    u32("registration_authority", "Registration authority: 0x%X, "),
    u32("account_number", "Account number: 0x%X, "),
    u32("registration_token", "Registration token: 0x%X\n"),
};

constexpr Field kClientId[] = {
    kRegistration[0],
    kRegistration[1],
    kRegistration[2],
    kRegistration[3],
    text("computer_name", FIELD_LINE "Computer name: %s, "),
    text("user_name", "User name: %s\n"),
};

constexpr Field kClientId2[] = {
    u32("server_version", "Server version: %u\n"),
    u32("registration_version", FIELD_LINE "Registration version: %u, "),
    kRegistration[1],
    kRegistration[2],
    kRegistration[3],
    text("computer_name", FIELD_LINE "Computer name: %s, "),
    text("user_name", "User name: %s\n"),
};

constexpr Field kStartVersioning[] = {
    fourCharCode("platform", "Platform: %s, "),
    fourCharCode("product", "Product: %s, "),
    u32("version_byte", "Version byte: 0x%X"),
    unknown(u32("unknown", ", [Unknown]: 0x%X")),
    literal("\n"),
};

constexpr Field kVersionCheck[] = {
    fileTime("mpq_filetime", "MPQ file time: %u/%u/%u %u:%u:%u, "),
    text("mpq_filename", "MPQ file: %s\n"),
    text("value_string", FIELD_LINE "Value string: %s\n"),
};

constexpr Field kReportVersion[] = {
    fourCharCode("platform", "Platform: %s, "),
    fourCharCode("product", "Product: %s, "),
    u32("version_byte", "Version byte: 0x%X\n"),
    u32("exe_version", FIELD_LINE "EXE version: 0x%X, "),
    u32("exe_hash", "EXE hash: 0x%X\n"),
    text("exe_info", FIELD_LINE "EXE info: %s\n"),
};

// The server appends a second text, empty when the version is good.
constexpr Field kVersionResult[] = {
    code("result", "Result: %u", kVersionResults, ", "),
    text("patch_path", "Patch path: %s\n"),
    optional(text("extra", FIELD_LINE "Extra: %s\n")),
};

constexpr Field kLocaleInfo[] = {
    fileTime("system_time", "System time: %u/%u/%u %u:%u:%u, "),
    fileTime("local_time", "Local time: %u/%u/%u %u:%u:%u\n"),
    u32("timezone_bias", FIELD_LINE "Timezone bias: %u, "),
    u32("system_locale_id", "System locale: %u, "),
    u32("user_locale_id", "User locale: %u, "),
    u32("user_language_id", "User language: %u\n"),
    text("language_abbreviation", FIELD_LINE "Language: %s, "),
    text("country_code", "Country code: %s, "),
    text("country_abbreviation", "Country abbr.: %s, "),
    text("country", "Country: %s\n"),
};

constexpr Field kUdpPingResponse[] = {fourCharCode("udp_code", "UDP code: %s\n")};

constexpr Field kLogonChallengeEx[] = {
    u32("udp_value", "UDP value: 0x%X, "),
    u32("server_token", "Server token: 0x%X\n"),
};

constexpr Field kLogonChallenge[] = {u32("server_token", "Server token: 0x%X\n")};

constexpr Field kCreateAccount[] = {
    bytes("password_hash", "Password hash: ", 20, ", "),
    text("account", "Account: %s\n"),
};

constexpr Field kAccountCreated[] = {code("result", "Result: %u", kCreated, "\n")};

constexpr Field kSystemInfo[] = {
    u32("processor_count", "Processors: %u, "),
    u32("processor_architecture", "Architecture: %u, "),
    u32("processor_level", "Level: %u, "),
    u32("processor_timing", "Timing: %u\n"),
    u32("total_physical_memory", FIELD_LINE "Physical memory: %u, "),
    u32("total_page_file", "Page file: %u, "),
    u32("free_disk_space", "Free disk space: %u\n"),
};

constexpr Field kCdKey[] = {
    u32("spawn", "Spawn: %u, "),
    text("cd_key", "CD key: %s, "),
    text("key_owner", "Key owner: %s\n"),
};

constexpr Field kKeyResult[] = {
    code("result", "Result: %u", kKeyResults, ", "),
    text("key_owner", "Key owner: %s\n"),
};

constexpr Field kChangePassword[] = {
    u32("client_token", "Client token: 0x%X, "),
    u32("server_token", "Server token: 0x%X\n"),
    bytes("old_password_hash", FIELD_LINE "Old password hash: ", 20, "\n"),
    bytes("new_password_hash", FIELD_LINE "New password hash: ", 20, "\n"),
    text("account", FIELD_LINE "Account: %s\n"),
};

constexpr Field kPasswordChanged[] = {code("result", "Result: %u", kChanged, "\n")};

constexpr Field kCdKey2[] = {
    u32("spawn", "Spawn: %u, "),
    u32("key_length", "Key length: %u, "),
    u32("product_value", "Product: %u, "),
    u32("public_value", "Public value: 0x%X\n"),
    u32("server_token", FIELD_LINE "Server token: 0x%X, "),
    u32("client_token", "Client token: 0x%X\n"),
    bytes("key_hash", FIELD_LINE "CD key hash: ", 20, "\n"),
    text("key_owner", FIELD_LINE "Key owner: %s\n"),
};

constexpr Field kAccountCreate2Result[] = {
    code("status", "Status: %u", kAccountStatuses, "\n"),
    optional(text("suggestion", FIELD_LINE "Suggestion: %s\n")),
};

constexpr Field kCdKey3[] = {
    unknown(u32("unknown1", "[Unknown 1]: 0x%X, ")),
    unknown(u32("unknown2", "[Unknown 2]: 0x%X, ")),
    unknown(u32("unknown3", "[Unknown 3]: 0x%X, ")),
    unknown(u32("unknown4", "[Unknown 4]: 0x%X\n" FIELD_LINE)),
    unknown(u32("unknown5", "[Unknown 5]: 0x%X, ")),
    unknown(u32("unknown6", "[Unknown 6]: 0x%X, ")),
    unknown(u32("unknown7", "[Unknown 7]: 0x%X\n" FIELD_LINE)),
    bytes("key_hash", "CD key hash: ", 20, ", "),
    text("key_owner", "Key owner: %s\n"),
};

constexpr Field kKey3Result[] = {
    code("result", "Result: %u", kKey3Results, ", "),
    text("info", "Info: %s\n"),
};

constexpr Field kSetEmail[] = {text("email", "E-mail: %s\n")};

constexpr Field kResetPassword[] = {
    text("account", "Account: %s, "),
    text("email", "E-mail: %s\n"),
};

constexpr Field kChangeEmail[] = {
    text("account", "Account: %s, "),
    text("old_email", "Old e-mail: %s, "),
    text("new_email", "New e-mail: %s\n"),
};

constexpr Field kSwitchProduct[] = {fourCharCode("product", "Product: %s\n")};

// clang-format on

constexpr DecoderEntry kClient[] = {
    {0x05, kClientId},        {0x06, kStartVersioning}, {0x07, kReportVersion}, {0x12, kLocaleInfo},
    {0x14, kUdpPingResponse}, {0x1E, kClientId2},       {0x2A, kCreateAccount}, {0x2B, kSystemInfo},
    {0x30, kCdKey},           {0x31, kChangePassword},  {0x36, kCdKey2},        {0x3D, kCreateAccount},
    {0x42, kCdKey3},          {0x59, kSetEmail},        {0x5A, kResetPassword}, {0x5B, kChangeEmail},
    {0x5C, kSwitchProduct},
};

// 0x59 from the server asks for an address and has no body.
constexpr DecoderEntry kServer[] = {
    {0x05, kRegistration},   {0x06, kVersionCheck},         {0x07, kVersionResult}, {0x1D, kLogonChallengeEx},
    {0x28, kLogonChallenge}, {0x2A, kAccountCreated},       {0x30, kKeyResult},     {0x31, kPasswordChanged},
    {0x36, kKeyResult},      {0x3D, kAccountCreate2Result}, {0x42, kKey3Result},    {0x59, {}},
};

}  // namespace

TopicDecoders logonDecoders() { return {kClient, kServer}; }

}  // namespace vestrel
