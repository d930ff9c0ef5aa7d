// The full set's game, ad, ladder and map messages.
#include "decode/decoder_sets.h"
#include "decode/field_builders.h"

namespace vestrel {

namespace {

using namespace field;  // NOLINT(google-build-using-namespace): the tables read as field lists

// A field a line, as the protocol's field lists are written.
// clang-format off

#define FILE_TIME "%u/%u/%u %u:%u:%u"

// The low four bits of a game's status; other bits show as the number alone.
constexpr CodeText kGameStatusTexts[] = {{1, "open"}, {4, "open"}, {6, "full"}, {0x0C, "done"}, {0x0E, "started"}};
constexpr CodeTable kGameStatuses{.rows = kGameStatusTexts, .plain = true};

// 0x08 and 0x1A: 1 is success; 0x1C turns it round.
constexpr CodeText kCreatedTexts[] = {{0, "failed"}, {1, "created"}};
constexpr CodeTable kCreated{.rows = kCreatedTexts, .plain = true};
constexpr CodeText kCreated3Texts[] = {{0, "ok"}, {1, "failed"}};
constexpr CodeTable kCreated3{.rows = kCreated3Texts, .plain = true};

constexpr FlagName kGameStateFlags[] = {
    {0x01, "private"}, {0x02, "full"}, {0x04, "open"}, {0x08, "started"}, {0x10, "disconnect is loss"},
    {0x80, "replay"},
};

constexpr CodeText kListStatusTexts[] = {
    {0, "ok"}, {2, "wrong password"}, {3, "full"}, {4, "started"}, {0x0A00, "loaded game"}};
constexpr CodeTable kListStatuses{.rows = kListStatusTexts, .plain = true};

constexpr CodeText kPlayerResultTexts[] = {
    {0, "none"}, {1, "win"}, {2, "loss"}, {3, "draw"}, {4, "disconnect"}, {5, "observer"},
};
constexpr CodeTable kPlayerResults{.rows = kPlayerResultTexts, .plain = true};

constexpr CodeText kLeagueTexts[] = {{1, "standard"}, {3, "ironman"}};
constexpr CodeTable kLeagues{.rows = kLeagueTexts, .plain = true};

constexpr CodeText kSortTexts[] = {{0, "highest rated"}, {2, "most wins"}, {3, "most games"}};
constexpr CodeTable kSortMethods{.rows = kSortTexts, .plain = true};

constexpr CodeText kMapResultTexts[] = {{0, "refused"}, {1, "ok"}, {2, "ok for ladder"}};
constexpr CodeTable kMapResults{.rows = kMapResultTexts, .plain = true};

constexpr Field kStartAdvEx[] = {
    code("game_status", "Status: 0x%X", kGameStatuses, ", "),
    unknown(u32("unknown1", "[Unknown 1]: 0x%X, ")),
    u16("game_type", "Game type: %u, "),
    u16("sub_type", "Sub type: %u"),
    unknown(u32("unknown2", ", [Unknown 2]: 0x%X")),
    unknown(u32("unknown3", ", [Unknown 3]: 0x%X")),
    text("game_name", "\n" FIELD_LINE "Game: %s, "),
    text("game_password", "Password: %s\n"),
    text("game_statstring", FIELD_LINE "Statstring: %s\n"),
};

constexpr Field kStartAdvEx2[] = {
    code("game_status", "Status: 0x%X", kGameStatuses, ", "),
    unknown(u32("unknown1", "[Unknown 1]: 0x%X, ")),
    u16("game_type", "Game type: %u, "),
    u16("sub_type", "Sub type: %u"),
    unknown(u32("unknown2", ", [Unknown 2]: 0x%X")),
    u32("port_or_unknown", ", Port: %u"),
    unknown(u32("unknown3", ", [Unknown 3]: 0x%X")),
    text("game_name", "\n" FIELD_LINE "Game: %s, "),
    text("game_password", "Password: %s\n"),
    text("game_statstring", FIELD_LINE "Statstring: %s\n"),
};

constexpr Field kStartAdvEx3[] = {
    flags("game_state", "State: 0x%X", kGameStateFlags, ", "),
    u32("elapsed_time", "Elapsed: %u, "),
    u16("game_type", "Game type: %u, "),
    u16("sub_type", "Sub type: %u\n"),
    u32("provider_version", FIELD_LINE "Provider version: 0x%X, "),
    u32("ladder_type", "Ladder type: %u\n"),
    text("game_name", FIELD_LINE "Game: %s, "),
    text("game_password", "Password: %s\n"),
    text("game_statstring", FIELD_LINE "Statstring: %s\n"),
};

constexpr Field kCreateResult[] = {code("status", "Status: %u", kCreated, "\n")};
constexpr Field kCreateResult3[] = {code("status", "Status: %u", kCreated3, "\n")};

constexpr Field kGameListRequest[] = {
    u16("game_type", "Game type: %u, "),
    u16("sub_type", "Sub type: %u, "),
    u32("viewing_filter", "Filter: 0x%X, "),
    unknown(u32("reserved", "[Reserved]: 0x%X, ")),
    u32("max_games", "Max games: %u\n"),
    text("game_name", FIELD_LINE "Game: %s, "),
    text("game_password", "Password: %s, "),
    text("game_statstring", "Statstring: %s\n"),
};

// The address family is always 2 and the two zeros are reserved.
constexpr Field kListedGame[] = {
    u16("game_type", "Game type: %u, "),
    u16("sub_type", "Sub type: %u, "),
    unknown(u16("unknown", "[Address family]: %u, ")),
    port("port", "Port: %u, "),
    address("ip_address", "Address: %s, "),
    unknown(u32("zero1", "[Zero 1]: 0x%X, ")),
    unknown(u32("zero2", "[Zero 2]: 0x%X, ")),
    code("game_status", "Status: 0x%X", kGameStatuses, ", "),
    u32("elapsed_or_unknown", "Elapsed: %u\n"),
    text("game_name", ENTRY_LINE " Game: %s, "),
    text("game_password", "Password: %s, "),
    text("game_statstring", "Statstring: %s\n"),
};

constexpr Field kGameList[] = {
    count("game_count", "Games: %u, ", Counter::First),
    code("status", "Status: 0x%X", kListStatuses, "\n"),
    list("games", ENTRY_LINE "Game %u: ", Counter::First, kListedGame),
};

constexpr Field kCheckAd[] = {
    fourCharCode("platform", "Platform: %s, "),
    fourCharCode("product", "Product: %s, "),
    u32("last_ad_id", "Last ad: %u, "),
    u32("unix_time", "Time: %u\n"),
};

constexpr Field kAd[] = {
    u32("ad_id", "Ad: %u, "),
    fixedText("file_extension", "Extension: %s, ", 4),
    fileTime("filetime", "File time: " FILE_TIME "\n"),
    text("filename", FIELD_LINE "Filename: %s, "),
    text("url", "URL: %s\n"),
};

constexpr Field kClickAd[] = {
    u32("ad_id", "Ad: %u, "),
    u32("request_type", "Request type: %u\n"),
};

constexpr Field kGameDataAddress[] = {
    u16("address_family", "Address family: %u, "),
    port("port", "Port: %u, "),
    address("ip_address", "Address: %s"),
    unknown(u32("zero1", ", [Zero 1]: 0x%X")),
    unknown(u32("zero2", ", [Zero 2]: 0x%X")),
    literal("\n"),
};

constexpr Field kDisplayAd[] = {
    fourCharCode("platform", "Platform: %s, "),
    fourCharCode("product", "Product: %s, "),
    u32("ad_id", "Ad: %u\n"),
    text("filename", FIELD_LINE "Filename: %s, "),
    text("url", "URL: %s\n"),
};

constexpr Field kNotifyJoin[] = {
    fourCharCode("product", "Product: %s, "),
    u32("product_version", "Version: 0x%X, "),
    text("game_name", "Game: %s, "),
    text("game_password", "Password: %s\n"),
};

constexpr Field kPlayerResult[] = {code("result", "%u", kPlayerResults, "\n")};
constexpr Field kPlayerName[] = {text("name", "%s\n")};

constexpr Field kGameResult[] = {
    u32("game_type", "Game type: %u, "),
    count("player_count", "Players: %u\n", Counter::First),
    list("results", ENTRY_LINE "Result %u: ", Counter::First, kPlayerResult),
    list("players", ENTRY_LINE "Player %u: ", Counter::First, kPlayerName),
    text("report_header", FIELD_LINE "Report header: %s\n"),
    text("report_body", FIELD_LINE "Report body: %s\n"),
};

constexpr Field kLadderRequest[] = {
    fourCharCode("product", "Product: %s, "),
    code("league", "League: %u", kLeagues, ", "),
    code("sort_method", "Sort: %u", kSortMethods, ", "),
    u32("starting_rank", "Starting rank: %u, "),
    count("count", "Count: %u\n", Counter::First),
};

// Places without a player are zeros and the name " ".
constexpr Field kLadderEntry[] = {
    u32("current_wins", "Wins: %u, "),
    u32("current_losses", "Losses: %u, "),
    u32("current_disconnects", "Disconnects: %u, "),
    u32("current_rating", "Rating: %u, "),
    u32("current_rank", "Rank: %u\n"),
    u32("active_wins", ENTRY_LINE " Active wins: %u, "),
    u32("active_losses", "Losses: %u, "),
    u32("active_disconnects", "Disconnects: %u, "),
    u32("active_rating", "Rating: %u, "),
    u32("active_rank", "Rank: %u\n"),
    u32("list_rank", ENTRY_LINE " List rank: %u, "),
    unknown(u32("unknown1", "[Unknown 1]: %u, ")),
    unknown(u32("unknown2", "[Unknown 2]: %u, ")),
    u32("high_rating", "High rating: %u"),
    unknown(u32("unknown3", ", [Unknown 3]: %u")),
    unknown(u32("unknown4", ", [Unknown 4]: %u")),
    fileTime("last_game_current", "\n" ENTRY_LINE " Last game: " FILE_TIME ", "),
    fileTime("last_game_active", "Last active game: " FILE_TIME "\n"),
    text("name", ENTRY_LINE " Name: %s\n"),
};

constexpr Field kLadder[] = {
    kLadderRequest[0],
    kLadderRequest[1],
    kLadderRequest[2],
    kLadderRequest[3],
    kLadderRequest[4],
    list("entries", ENTRY_LINE "Entry %u: ", Counter::First, kLadderEntry),
};

constexpr Field kFindLadderUser[] = {
    kLadderRequest[0],
    kLadderRequest[1],
    kLadderRequest[2],
    text("username", "User: %s\n"),
};

// 0xFFFFFFFF: not ranked, or no such account.
constexpr Field kLadderRank[] = {u32("rank", "Rank: %u\n")};

constexpr Field kCheckDataFile[] = {
    bytes("file_hash", "File hash: ", 20, ", "),
    text("filename", "Filename: %s\n"),
};

constexpr Field kCheckDataFile2[] = {
    u32("request_type", "Request type: %u, "),
    kCheckDataFile[0],
    kCheckDataFile[1],
};

constexpr Field kMapResult[] = {code("result", "Result: %u", kMapResults, "\n")};

constexpr Field kAdUrlRequest[] = {u32("ad_id", "Ad: %u\n")};

constexpr Field kAdUrl[] = {
    u32("ad_id", "Ad: %u, "),
    text("url", "URL: %s\n"),
};

// A sub-protocol of its own: the first byte says which message it is.
constexpr Field kWarcraftGeneral[] = {
    u8("subcommand", "Subcommand: 0x%.2X, "),
    bytes("data", "Data: ", kRestOfMessage, "\n"),
};

constexpr Field kNetGamePort[] = {u16("port", "Port: %u\n")};

#undef FILE_TIME

// clang-format on

// 0x02 and 0x1F have no body.
constexpr DecoderEntry kClient[] = {
    {0x02, {}},
    {0x08, kStartAdvEx},
    {0x09, kGameListRequest},
    {0x15, kCheckAd},
    {0x16, kClickAd},
    {0x1A, kStartAdvEx2},
    {0x1B, kGameDataAddress},
    {0x1C, kStartAdvEx3},
    {0x1F, {}},
    {0x21, kDisplayAd},
    {0x22, kNotifyJoin},
    {0x2C, kGameResult},
    {0x2E, kLadderRequest},
    {0x2F, kFindLadderUser},
    {0x32, kCheckDataFile},
    {0x3C, kCheckDataFile2},
    {0x41, kAdUrlRequest},
    {0x44, kWarcraftGeneral},
    {0x45, kNetGamePort},
};

constexpr DecoderEntry kServer[] = {
    {0x08, kCreateResult},    {0x09, kGameList},   {0x15, kAd},        {0x1A, kCreateResult}, {0x1C, kCreateResult3},
    {0x2E, kLadder},          {0x2F, kLadderRank}, {0x32, kMapResult}, {0x3C, kMapResult},    {0x41, kAdUrl},
    {0x44, kWarcraftGeneral},
};

}  // namespace

TopicDecoders gameDecoders() { return {kClient, kServer}; }

}  // namespace vestrel
