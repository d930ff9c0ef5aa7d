// The full set's friend, team-game and clan messages (0x60-0x7F).
#include "decode/decoder_sets.h"
#include "decode/field_builders.h"

namespace vestrel {

namespace {

using namespace field;  // NOLINT(google-build-using-namespace): the tables read as field lists

// A field a line, as the protocol's field lists are written.
// clang-format off

constexpr FlagName kFriendStatusFlags[] = {{0x01, "mutual"}, {0x02, "do not disturb"}, {0x04, "away"}};

constexpr CodeText kFriendLocationTexts[] = {
    {0, "offline"}, {1, "online"}, {2, "in chat"}, {3, "in a public game"}, {5, "in a private game"}};
constexpr CodeTable kFriendLocations{.rows = kFriendLocationTexts, .plain = true};

constexpr CodeText kMemberStatusTexts[] = {
    {0, "offline"}, {1, "online"}, {2, "in a channel"}, {3, "in a public game"}, {4, "in a private game"}};
constexpr CodeTable kMemberStatuses{.rows = kMemberStatusTexts, .plain = true};

constexpr CodeText kRankTexts[] = {{0, "new"}, {1, "peon"}, {2, "grunt"}, {3, "shaman"}, {4, "chieftain"}};
constexpr CodeTable kRanks{.rows = kRankTexts, .plain = true};

constexpr CodeText kSuccessTexts[] = {{0, "success"}, {1, "failure"}};
constexpr CodeTable kSuccess{.rows = kSuccessTexts, .plain = true};

constexpr CodeText kDisbandTexts[] = {{0, "success"}, {1, "failure"}, {7, "not authorised"}};
constexpr CodeTable kDisbandResults{.rows = kDisbandTexts, .plain = true};

constexpr CodeText kCandidateTexts[] = {
    {0, "ok"}, {1, "tag in use"}, {2, "too soon"}, {4, "already in or creating a clan"}, {0x0A, "bad tag"}};
constexpr CodeTable kCandidateStatuses{.rows = kCandidateTexts, .plain = true};

constexpr CodeText kCreationTexts[] = {{0, "success"}, {4, "declined"}, {5, "cannot contact"}};
constexpr CodeTable kCreationResults{.rows = kCreationTexts, .plain = true};

constexpr CodeText kCreationAnswerTexts[] = {{4, "decline"}, {5, "cannot contact"}, {6, "accept"}};
constexpr CodeTable kCreationAnswers{.rows = kCreationAnswerTexts, .plain = true};

constexpr CodeText kInvitationTexts[] = {{0, "accepted"},       {4, "declined"},       {5, "declined"},
                                         {7, "not authorised"}, {8, "user not found"}, {9, "clan full"}};
constexpr CodeTable kInvitationResults{.rows = kInvitationTexts, .plain = true};

constexpr CodeText kInvitationAnswerTexts[] = {{6, "accept"}};
constexpr CodeTable kInvitationAnswers{.rows = kInvitationAnswerTexts, .otherwise = "decline", .plain = true};

constexpr CodeText kQuitTexts[] = {{1, "removed"}};
constexpr CodeTable kQuitStatuses{.rows = kQuitTexts, .plain = true};

constexpr CodeText kTeamActionTexts[] = {{2, "decline"}};
constexpr CodeTable kTeamActions{.rows = kTeamActionTexts, .plain = true};

constexpr CodeText kTeamAnswerTexts[] = {{2, "decline"}, {3, "accept"}};
constexpr CodeTable kTeamAnswers{.rows = kTeamAnswerTexts, .plain = true};

constexpr Field kName[] = {text("name", "%s\n")};

constexpr Field kTeamCandidates[] = {
    count("count", "Candidates: %u\n", Counter::First, 1),
    list("names", ENTRY_LINE "Name %u: ", Counter::First, kName),
};

// The team-game messages are known from the server's handling alone.
constexpr Field kTeamInvitation[] = {
    u32("count", "Count: %u, "),
    u32("invitation_id", "Invitation: 0x%X, "),
    unknown(u32("unknown", "[Unknown]: 0x%X, ")),
    count("friend_count", "Friends: %u\n", Counter::First, 1),
    list("names", ENTRY_LINE "Name %u: ", Counter::First, kName),
};

constexpr Field kTeamAcknowledgement[] = {
    u32("count", "Count: %u, "),
    u32("invitation_id", "Invitation: 0x%X, "),
    u32("time", "Time: %u, "),
    u8("team_size", "Team size: %u\n"),
    u32("member_id1", FIELD_LINE "Members: 0x%X, "),
    u32("member_id2", "0x%X, "),
    u32("member_id3", "0x%X, "),
    u32("member_id4", "0x%X, "),
    u32("member_id5", "0x%X\n"),
};

constexpr Field kTeamDeclined[] = {
    u32("count", "Count: %u, "),
    code("action", "Action: %u", kTeamActions, ", "),
    text("name", "Name: %s\n"),
};

constexpr Field kTeamAnswer[] = {
    u32("count", "Count: %u, "),
    u32("invitation_id", "Invitation: 0x%X, "),
    code("option", "Answer: %u", kTeamAnswers, ", "),
    text("inviter", "Inviter: %s\n"),
};

constexpr Field kTeamInvitationToFriend[] = {
    u32("count", "Count: %u, "),
    u32("invitation_id", "Invitation: 0x%X, "),
    address("inviter_ip", "Inviter address: %s, "),
    u16("port", "Port: %u, "),
    count("friend_count", "Friends: %u\n", Counter::First, 1),
    list("names", ENTRY_LINE "Name %u: ", Counter::First, kName),
};

constexpr Field kFriendEntry[] = {
    text("account", "%s, "),
    flags("status", "Status: 0x%.2X", kFriendStatusFlags, ", ", 1),
    code("location", "Location: %u", kFriendLocations, ", ", 1),
    fourCharCode("product", "Product: %s, "),
    text("location_name", "Where: %s\n"),
};

constexpr Field kFriendList[] = {
    count("count", "Friends: %u\n", Counter::First, 1),
    list("friends", ENTRY_LINE "Friend %u: ", Counter::First, kFriendEntry),
};

constexpr Field kFriendIndex[] = {u8("friend_index", "Friend: %u\n")};

constexpr Field kFriendUpdate[] = {
    u8("friend_index", "Friend: %u, "),
    kFriendEntry[1],
    kFriendEntry[2],
    kFriendEntry[3],
    kFriendEntry[4],
};

constexpr Field kFriendAdded[] = {
    text("account", "Account: %s, "),
    kFriendEntry[1],
    kFriendEntry[2],
    kFriendEntry[3],
    kFriendEntry[4],
};

constexpr Field kFriendMoved[] = {
    u8("old_index", "From: %u, "),
    u8("new_index", "To: %u\n"),
};

constexpr Field kCookie[] = {u32("cookie", "Cookie: 0x%X\n")};

constexpr Field kFindCandidates[] = {
    u32("cookie", "Cookie: 0x%X, "),
    fourCharCode("clan_tag", "Clan: %s\n"),
};

constexpr Field kCandidates[] = {
    u32("cookie", "Cookie: 0x%X, "),
    code("status", "Status: %u", kCandidateStatuses, ", ", 1),
    count("candidate_count", "Candidates: %u\n", Counter::First, 1),
    list("candidates", ENTRY_LINE "Name %u: ", Counter::First, kName),
};

constexpr Field kInviteMultiple[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("clan_name", "Clan name: %s, "),
    fourCharCode("clan_tag", "Clan: %s, "),
    count("invite_count", "Invited: %u\n", Counter::First, 1),
    list("invitees", ENTRY_LINE "Name %u: ", Counter::First, kName),
};

// After a success the server appends one empty name.
constexpr Field kCreationResult[] = {
    u32("cookie", "Cookie: 0x%X, "),
    code("result", "Result: %u", kCreationResults, "\n", 1),
    optional(list("failed_names", ENTRY_LINE "Failed %u: ", Counter::None, kName)),
};

constexpr Field kCreationAnswer[] = {
    u32("cookie", "Cookie: 0x%X, "),
    fourCharCode("clan_tag", "Clan: %s, "),
    text("inviter", "Inviter: %s, "),
    code("response", "Answer: %u", kCreationAnswers, "\n", 1),
};

constexpr Field kCreationInvitation[] = {
    u32("cookie", "Cookie: 0x%X, "),
    fourCharCode("clan_tag", "Clan: %s, "),
    text("clan_name", "Clan name: %s, "),
    text("inviter", "Inviter: %s, "),
    count("invite_count", "Invited: %u\n", Counter::First, 1),
    list("invitees", ENTRY_LINE "Name %u: ", Counter::First, kName),
};

constexpr Field kDisbandResult[] = {
    u32("cookie", "Cookie: 0x%X, "),
    code("result", "Result: %u", kDisbandResults, "\n", 1),
};

constexpr Field kSuccessResult[] = {
    u32("cookie", "Cookie: 0x%X, "),
    code("result", "Result: %u", kSuccess, "\n", 1),
};

constexpr Field kMakeChieftain[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("new_chieftain", "New chieftain: %s\n"),
};

constexpr Field kClanInfo[] = {
    unknown(u8("unknown", "[Unknown]: %u, ")),
    fourCharCode("clan_tag", "Clan: %s, "),
    code("rank", "Rank: %u", kRanks, "\n", 1),
};

// After a disband the server leaves the status byte unset.
constexpr Field kQuitNotify[] = {code("status", "Status: %u", kQuitStatuses, "\n", 1)};

constexpr Field kInvite[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("target", "User: %s\n"),
};

constexpr Field kInvitationResult[] = {
    u32("cookie", "Cookie: 0x%X, "),
    code("result", "Result: %u", kInvitationResults, "\n", 1),
};

constexpr Field kRemoveMember[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("username", "User: %s\n"),
};

constexpr Field kInvitationResponse[] = {
    u32("cookie", "Cookie: 0x%X, "),
    fourCharCode("clan_tag", "Clan: %s, "),
    text("inviter", "Inviter: %s, "),
    code("response", "Answer: %u", kInvitationAnswers, "\n", 1),
};

constexpr Field kInvitation[] = {
    u32("cookie", "Cookie: 0x%X, "),
    fourCharCode("clan_tag", "Clan: %s, "),
    text("clan_name", "Clan name: %s, "),
    text("inviter", "Inviter: %s\n"),
};

constexpr Field kRankChange[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("username", "User: %s, "),
    code("new_rank", "New rank: %u", kRanks, "\n", 1),
};

constexpr Field kSetMotd[] = {
    u32("cookie", "Cookie: 0x%X, "),
    text("motd", "Message of the day: %s\n"),
};

constexpr Field kMotd[] = {
    u32("cookie", "Cookie: 0x%X, "),
    unknown(u32("unknown", "[Unknown]: 0x%X, ")),
    text("motd", "Message of the day: %s\n"),
};

constexpr Field kMember[] = {
    text("username", "%s, "),
    code("rank", "Rank: %u", kRanks, ", ", 1),
    code("online_status", "Status: %u", kMemberStatuses, ", ", 1),
    text("location", "Where: %s\n"),
};

constexpr Field kMemberList[] = {
    u32("cookie", "Cookie: 0x%X, "),
    count("member_count", "Members: %u\n", Counter::First, 1),
    list("members", ENTRY_LINE "Member %u: ", Counter::First, kMember),
};

constexpr Field kMemberRemoved[] = {text("username", "User: %s\n")};

constexpr Field kMemberUpdate[] = {
    text("username", "User: %s, "),
    kMember[1],
    kMember[2],
    kMember[3],
};

// clang-format on

// 0x60 and 0x65 ask with no body.
constexpr DecoderEntry kClient[] = {
    {0x60, {}},
    {0x61, kTeamInvitation},
    {0x63, kTeamAnswer},
    {0x65, {}},
    {0x66, kFriendIndex},
    {0x70, kFindCandidates},
    {0x71, kInviteMultiple},
    {0x72, kCreationAnswer},
    {0x73, kCookie},
    {0x74, kMakeChieftain},
    {0x77, kInvite},
    {0x78, kRemoveMember},
    {0x79, kInvitationResponse},
    {0x7A, kRankChange},
    {0x7B, kSetMotd},
    {0x7C, kCookie},
    {0x7D, kCookie},
};

constexpr DecoderEntry kServer[] = {
    {0x60, kTeamCandidates},
    {0x61, kTeamAcknowledgement},
    {0x62, kTeamDeclined},
    {0x63, kTeamInvitationToFriend},
    {0x65, kFriendList},
    {0x66, kFriendUpdate},
    {0x67, kFriendAdded},
    {0x68, kFriendIndex},
    {0x69, kFriendMoved},
    {0x70, kCandidates},
    {0x71, kCreationResult},
    {0x72, kCreationInvitation},
    {0x73, kDisbandResult},
    {0x74, kSuccessResult},
    {0x75, kClanInfo},
    {0x76, kQuitNotify},
    {0x77, kInvitationResult},
    {0x78, kSuccessResult},
    {0x79, kInvitation},
    {0x7A, kSuccessResult},
    {0x7C, kMotd},
    {0x7D, kMemberList},
    {0x7E, kMemberRemoved},
    {0x7F, kMemberUpdate},
};

}  // namespace

TopicDecoders friendAndClanDecoders() { return {kClient, kServer}; }

}  // namespace vestrel
