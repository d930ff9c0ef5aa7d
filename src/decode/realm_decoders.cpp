// The full set's realm, character and profile messages, and the user data
// (profile and record keys) they read and write.
#include "decode/decoder_sets.h"
#include "decode/field_builders.h"

namespace vestrel {

namespace {

using namespace field;  // NOLINT(google-build-using-namespace): the tables read as field lists

// A field a line, as the protocol's field lists are written.
// clang-format off

constexpr CodeText kProfileStatusTexts[] = {{0, "ok"}};
constexpr CodeTable kProfileStatuses{.rows = kProfileStatusTexts, .plain = true};

constexpr Field kAccountName[] = {text("name", "%s\n")};
constexpr Field kKeyName[] = {text("key", "%s\n")};
constexpr Field kKeyValue[] = {text("value", "%s\n")};

constexpr Field kReadUserData[] = {
    count("account_count", "Accounts: %u, ", Counter::First),
    count("key_count", "Keys: %u, ", Counter::Second),
    u32("request_id", "Request ID: 0x%X\n"),
    list("accounts", ENTRY_LINE "Account %u: ", Counter::First, kAccountName),
    list("keys", ENTRY_LINE "Key %u: ", Counter::Second, kKeyName),
};

// One value for each account and key, account after account.
constexpr Field kUserData[] = {
    count("account_count", "Accounts: %u, ", Counter::First),
    count("key_count", "Keys: %u, ", Counter::Second),
    u32("request_id", "Request ID: 0x%X\n"),
    list("values", ENTRY_LINE "Value %u: ", Counter::Product, kKeyValue),
};

constexpr Field kWriteUserData[] = {
    count("account_count", "Accounts: %u, ", Counter::First),
    count("key_count", "Keys: %u\n", Counter::Second),
    list("accounts", ENTRY_LINE "Account %u: ", Counter::First, kAccountName),
    list("keys", ENTRY_LINE "Key %u: ", Counter::Second, kKeyName),
    list("values", ENTRY_LINE "Value %u: ", Counter::Product, kKeyValue),
};

// The server reads the two numbers only.
constexpr Field kQueryRealms[] = {
    unknown(u32("unused1", "[Unused 1]: 0x%X, ")),
    unknown(u32("unused2", "[Unused 2]: 0x%X, ")),
    unknown(text("unknown", "[Unknown]: %s")),
    literal("\n"),
};

constexpr Field kRealm[] = {
    unknown(u32("unknown1", "[Unknown 1]: 0x%X, ")),
    unknown(u32("unknown2", "[Unknown 2]: 0x%X, ")),
    unknown(u32("unknown3", "[Unknown 3]: 0x%X, ")),
    unknown(u32("unknown4", "[Unknown 4]: 0x%X, ")),
    unknown(u32("unknown5", "[Unknown 5]: 0x%X, ")),
    unknown(u32("unknown6", "[Unknown 6]: 0x%X, ")),
    unknown(u32("unknown7", "[Unknown 7]: 0x%X, ")),
    text("title", "Title: %s, "),
    text("description", "Description: %s\n"),
};

constexpr Field kRealms[] = {
    unknown(u32("unknown", "[Unknown]: 0x%X, ")),
    count("count", "Realms: %u\n", Counter::First),
    list("realms", ENTRY_LINE "Realm %u: ", Counter::First, kRealm),
};

constexpr Field kRealm2[] = {
    unknown(u32("unknown", "[Unknown]: 0x%X, ")),
    text("title", "Title: %s, "),
    text("description", "Description: %s\n"),
};

constexpr Field kRealms2[] = {
    kRealms[0],
    kRealms[1],
    list("realms", ENTRY_LINE "Realm %u: ", Counter::First, kRealm2),
};

constexpr Field kProfileRequest[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("username", "User: %s\n"),
};

// No clan: four zero bytes.
constexpr Field kProfile[] = {
    u32("cookie", "Cookie: 0x%X, "),
    code("status", "Status: %u", kProfileStatuses, ", ", 1),
    text("description", "Description: %s, "),
    text("location", "Location: %s, "),
    fourCharCode("clan_tag", "Clan: %s\n"),
};

constexpr Field kCharacterListRequest[] = {u32("open_character_count", "Open characters: %u\n")};

constexpr Field kCharacter[] = {
    text("realm_and_name", "%s, "),
    text("statstring", "Statstring: %s, "),
    text("guild", "Guild: %s\n"),
};

constexpr Field kCharacterList[] = {
    unknown(u32("unknown", "[Unknown]: 0x%X, ")),
    u32("max_characters", "Max characters: %u, "),
    count("count", "Characters: %u\n", Counter::First),
    list("characters", ENTRY_LINE "Character %u: ", Counter::First, kCharacter),
};

constexpr Field kCharacterDelete[] = {text("character_name", "Character: %s\n")};

constexpr Field kRealmLogonRequest[] = {
    u32("client_token", "Client token: 0x%X, "),
    bytes("hashed_realm_password", "Realm password hash: ", 20, ", "),
    text("realm_title", "Realm: %s\n"),
};

// Every field is 0, and the account empty, for an unknown realm.
constexpr Field kRealmLogon[] = {
    u32("cookie", "Cookie: 0x%X, "),
    u32("status", "Status: 0x%X\n"),
    u32("bncs_address1", FIELD_LINE "Chat server address 1: 0x%X, "),
    u32("udp_value", "UDP value: 0x%X, "),
    address("realm_ip", "Realm address: %s, "),
    port("realm_port", "Realm port: %u"),
    unknown(u16("unknown", ", [Unknown]: 0x%X")),
    u32("server_token", "\n" FIELD_LINE "Server token: 0x%X"),
    unknown(u32("zero1", ", [Zero 1]: 0x%X")),
    unknown(u32("zero2", ", [Zero 2]: 0x%X")),
    fourCharCode("product", ", Product: %s, "),
    u32("version_byte", "Version byte: 0x%X, "),
    u32("bncs_address2", "Chat server address 2: 0x%X"),
    unknown(u32("zero3", ", [Zero 3]: 0x%X")),
    bytes("secret_hash", "\n" FIELD_LINE "Secret hash: ", 20, ", "),
    text("account", "Account: %s\n"),
};

// clang-format on

// 0x40 asks with no body.
constexpr DecoderEntry kClient[] = {
    {0x26, kReadUserData},         {0x27, kWriteUserData},   {0x34, kQueryRealms},       {0x35, kProfileRequest},
    {0x37, kCharacterListRequest}, {0x39, kCharacterDelete}, {0x3E, kRealmLogonRequest}, {0x40, {}},
};

constexpr DecoderEntry kServer[] = {
    {0x26, kUserData}, {0x34, kRealms}, {0x35, kProfile}, {0x37, kCharacterList}, {0x3E, kRealmLogon}, {0x40, kRealms2},
};

}  // namespace

TopicDecoders realmAndProfileDecoders() { return {kClient, kServer}; }

}  // namespace vestrel
