#include "decode/message_names.h"

#include <array>
#include <cstdio>
#include <string>

namespace vestrel {

namespace {

struct NamedId {
  uint8_t id;
  const char* name;
};

// Three names carry a trailing tab (one a blank and a tab): they have always
// been printed that way and logs and scripts match them as they are.
constexpr NamedId kMessageNames[] = {
    {0x00, "SID_NULL"},
    {0x02, "SID_STOPADV"},
    {0x04, "SID_SERVERLIST"},
    {0x05, "SID_CLIENTID"},
    {0x06, "SID_STARTVERSIONING"},
    {0x07, "SID_REPORTVERSION"},
    {0x09, "SID_GETADVLISTEX"},
    {0x0A, "SID_ENTERCHAT"},
    {0x0B, "SID_GETCHANNELLIST"},
    {0x0C, "SID_JOINCHANNEL"},
    {0x0E, "SID_CHATCOMMAND"},
    {0x0F, "SID_CHATEVENT"},
    {0x10, "SID_LEAVECHAT"},
    {0x12, "SID_LOCALEINFO"},
    {0x13, "SID_FLOODDETECTED"},
    {0x14, "SID_UDPPINGRESPONSE"},
    {0x15, "SID_CHECKAD"},
    {0x16, "SID_CLICKAD"},
    {0x19, "SID_MESSAGEBOX"},
    {0x1C, "SID_STARTADVEX3"},
    {0x1D, "SID_LOGONCHALLENGEEX"},
    {0x1E, "SID_CLIENTID2"},
    {0x20, "SID_BROADCAST"},
    {0x21, "SID_DISPLAYAD"},
    {0x22, "SID_NOTIFYJOIN"},
    {0x25, "SID_PING"},
    {0x26, "SID_READUSERDATA"},
    {0x27, "SID_WRITEUSERDATA"},
    {0x28, "SID_LOGONCHALLENGE"},
    {0x29, "SID_LOGONRESPONSE"},
    {0x2A, "SID_CREATEACCOUNT"},
    {0x2C, "SID_GAMERESULT"},
    {0x2D, "SID_GETICONDATA"},
    {0x2E, "SID_GETLADDERDATA"},
    {0x2F, "SID_FINDLADDERUSER"},
    {0x30, "SID_CDKEY"},
    {0x31, "SID_CHANGEPASSWORD"},
    {0x33, "SID_GETFILETIME"},
    {0x34, "SID_QUERYREALMS"},
    {0x36, "SID_CDKEY2"},
    {0x3A, "SID_LOGONRESPONSE2"},
    {0x3C, "SID_CHECKDATAFILE2"},
    {0x3D, "SID_CREATEACCOUNT2"},
    {0x3E, "SID_LOGONREALMEX"},
    {0x40, "SID_STARTVERSIONING2"},
    {0x41, "SID_QUERYADURL"},
    {0x46, "SID_NEWS_INFO"},
    {0x50, "SID_AUTH_INFO"},
    {0x51, "SID_AUTH_CHECK"},
    {0x52, "SID_AUTH_ACCOUNTCREATE"},
    {0x53, "SID_AUTH_ACCOUNTLOGON"},
    {0x54, "SID_AUTH_ACCOUNTLOGONPROOF\t"},
    {0x55, "SID_AUTH_ACCOUNTCHANGE"},
    {0x56, "SID_AUTH_ACCOUNTCHANGEPROOF \t"},
    {0x57, "SID_AUTH_ACCOUNTUPGRADE"},
    {0x58, "SID_AUTH_ACCOUNTUPGRADEPROOF\t"},
    {0x59, "SID_AUTH_RECONNECT"},
    {0x5A, "SID_AUTH_RECONNECTPROOF"},
    {0x5B, "SID_AUTH_DISCONNECT"},
    {0x65, "SID_FRIENDLIST"},
    {0x66, "SID_FRIENDUPDATE"},
    {0x67, "SID_FRIENDADDED"},
    {0x68, "SID_FRIENDREMOVED"},
    {0x69, "SID_FRIENDMOVED"},
    {0x75, "SID_CLANINFO"},
    {0x79, "SID_CLANINVITE"},
    {0x7C, "SID_CLANMOTD"},
    {0x7D, "SID_CLANMEMBERLIST"},
    {0x7F, "SID_CLANMEMBERUPDATE"},
};

// The full set names every message as its users do: five ids carry
// something other than their classic name says, and the classic table
// leaves many unnamed. 0x61-0x63 have no usual name and keep SID_UNK0xNN.
constexpr NamedId kFullSetNames[] = {
    {0x08, "SID_STARTADVEX"},
    {0x17, "SID_READMEMORY"},
    {0x18, "SID_REGISTRY"},
    {0x1A, "SID_STARTADVEX2"},
    {0x1B, "SID_GAMEDATAADDRESS"},
    {0x1F, "SID_LEAVEGAME"},
    {0x24, "SID_READCOOKIE"},
    {0x2B, "SID_SYSTEMINFO"},
    {0x32, "SID_CHECKDATAFILE"},
    {0x35, "SID_PROFILE"},
    {0x37, "SID_CHARLIST"},
    {0x39, "SID_CHARDELETE"},
    {0x40, "SID_QUERYREALMS2"},
    {0x42, "SID_CDKEY3"},
    {0x44, "SID_WARCRAFTGENERAL"},
    {0x45, "SID_NETGAMEPORT"},
    {0x4B, "SID_EXTRAWORK"},
    {0x4C, "SID_REQUIREDWORK"},
    {0x59, "SID_SETEMAIL"},
    {0x5A, "SID_RESETPASSWORD"},
    {0x5B, "SID_CHANGEEMAIL"},
    {0x5C, "SID_SWITCHPRODUCT"},
    {0x5D, "SID_REPORTCRASH"},
    {0x60, "SID_TEAMGAME"},
    {0x70, "SID_CLANFINDCANDIDATES"},
    {0x71, "SID_CLANINVITEMULTIPLE"},
    {0x72, "SID_CLANCREATIONINVITATION"},
    {0x73, "SID_CLANDISBAND"},
    {0x74, "SID_CLANMAKECHIEFTAIN"},
    {0x76, "SID_CLANQUITNOTIFY"},
    {0x77, "SID_CLANINVITATION"},
    {0x78, "SID_CLANREMOVEMEMBER"},
    {0x79, "SID_CLANINVITATIONRESPONSE"},
    {0x7A, "SID_CLANRANKCHANGE"},
    {0x7B, "SID_CLANSETMOTD"},
    {0x7E, "SID_CLANMEMBERREMOVED"},
};

using NameTable = std::array<std::string, 256>;

// Every id's name, unknown ones formatted once, so the hot path only indexes.
NameTable buildNameTable(DecoderSet set) {
  NameTable names;
  for (size_t id = 0; id < names.size(); ++id) {
    char unknown[16];
    // Eleven characters and the terminator: never cut short.
    static_cast<void>(std::snprintf(unknown, sizeof unknown, "SID_UNK0x%2.2X", static_cast<unsigned>(id)));
    names[id] = unknown;
  }
  for (const NamedId& entry : kMessageNames) names[entry.id] = entry.name;
  if (set == DecoderSet::Full) {
    for (const NamedId& entry : kFullSetNames) names[entry.id] = entry.name;
  }
  return names;
}

}  // namespace

const char* messageName(uint8_t id, DecoderSet set) {
  static const NameTable classic = buildNameTable(DecoderSet::Classic);
  static const NameTable full = buildNameTable(DecoderSet::Full);
  return (set == DecoderSet::Full ? full : classic)[id].c_str();
}

}  // namespace vestrel
