// The full set's file, news and server-script messages: icons, news,
// memory and registry reads, extra work, crash reports and the messages
// the server ignores.
#include "decode/decoder_sets.h"
#include "decode/field_builders.h"

namespace vestrel {

namespace {

using namespace field;  // NOLINT(google-build-using-namespace): the tables read as field lists

// A field a line, as the protocol's field lists are written.
// clang-format off

constexpr Field kReadMemoryAnswer[] = {
    u32("request_id", "Request ID: 0x%X, "),
    bytes("memory", "Memory: ", kRestOfMessage, "\n"),
};

constexpr Field kReadMemoryRequest[] = {
    u32("request_id", "Request ID: 0x%X, "),
    u32("address", "Address: 0x%X, "),
    u32("length", "Length: %u\n"),
};

constexpr Field kRegistryAnswer[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("value", "Value: %s\n"),
};

constexpr Field kRegistryRequest[] = {
    u32("cookie", "Cookie: 0x%X, "),
    u32("hive", "Hive: 0x%X, "),
    text("key", "Key: %s, "),
    text("value_name", "Value name: %s\n"),
};

constexpr Field kReadCookie[] = {bytes("data", "Data: ", kRestOfMessage, "\n")};

constexpr Field kIconData[] = {
    fileTime("filetime", "File time: %u/%u/%u %u:%u:%u, "),
    text("filename", "Filename: %s\n"),
};

constexpr Field kNewsRequest[] = {u32("last_news_time", "Last news: %u\n")};

// Times are Unix seconds.
constexpr Field kNews[] = {
    u8("entry_count", "Entries: %u, "),
    u32("server_time", "Server time: %u, "),
    u32("oldest_news", "Oldest: %u, "),
    u32("newest_news", "Newest: %u, "),
    u32("entry_timestamp", "Entry time: %u\n"),
    text("text", FIELD_LINE "Text: %s\n"),
};

constexpr Field kExtraWork[] = {
    u16("game_type", "Game type: %u, "),
    u16("data_length", "Data length: %u, "),
    bytes("data", "Data: ", kRestOfMessage, "\n"),
};

constexpr Field kRequiredWork[] = {text("filename", "Filename: %s\n")};

constexpr Field kReportCrash[] = {bytes("crash_data", "Crash data: ", kRestOfMessage, "\n")};

// clang-format on

// 0x2D asks with no body; 0x04 is defined and never sent.
constexpr DecoderEntry kClient[] = {
    {0x17, kReadMemoryAnswer}, {0x18, kRegistryAnswer}, {0x24, kReadCookie},  {0x2D, {}},
    {0x46, kNewsRequest},      {0x4B, kExtraWork},      {0x5D, kReportCrash},
};

constexpr DecoderEntry kServer[] = {
    {0x04, {}},    {0x17, kReadMemoryRequest}, {0x18, kRegistryRequest}, {0x2D, kIconData},
    {0x46, kNews}, {0x4C, kRequiredWork},
};

}  // namespace

TopicDecoders filesAndScriptsDecoders() { return {kClient, kServer}; }

}  // namespace vestrel
