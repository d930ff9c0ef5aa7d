// What the connection tracker tells about the connections it follows: the
// messages cut out of them, and every change or anomaly of a connection,
// as typed events. The tracker never formats; whoever implements
// ConnectionEvents (the message printer) shows them.
#pragma once

#include <sys/time.h>

#include <cstdint>

#include "decode/message_reader.h"
#include "stream/connection_table.h"

namespace vestrel {

enum class ConnectionChange {
  Opened,             // seen from its SYN; the client's protocol byte came
  OpenBeforeCapture,  // met mid-way
  Closed,             // reason tells how
  Lost,               // bytes that will never come: a gap given up
  Skipped,            // bytes passed over while looking for the next message
  Incomplete,         // a message cut off by a gap or by the end of its connection or capture
  NotDelivered,       // bytes the receiver would not take: refusal tells why
  Ignored,            // a SYN, FIN or RST no receiver would act on: refusal tells why
};
enum class Refusal {
  OutOfWindow,     // too far from where the stream stands
  AfterFin,        // past its direction's FIN
  OnRst,           // carried by an RST
  AfterRst,        // the connection was reset before
  NotAtNextByte,   // an RST inside the window but not at the next byte (RFC 5961: a challenge, not a close)
  ConnectionOpen,  // a SYN with another starting number while the connection is open
};

struct ConnectionEvent {
  ConnectionChange change;
  uint8_t protocolByte = 0;                // Opened: the client's first byte
  bool carriesMessages = true;             // Opened: that byte names the chat protocol
  CloseReason reason = CloseReason::Fin;   // Closed
  bool sent = false;                       // every event of a direction: toward the server
  uint64_t bytes = 0;                      // Lost, Skipped, Incomplete, NotDelivered
  uint32_t messageLength = 0;              // Incomplete: its header's length; 0 when the header was cut
  Refusal refusal = Refusal::OutOfWindow;  // NotDelivered, Ignored
  uint8_t flag = 0;                        // Ignored: the TCP flag (kTcpSyn, kTcpFin, kTcpRst)
};

class ConnectionEvents {
 public:
  // The capture time of the frame being handled: every message and event
  // it causes happened then.
  virtual void frameTime(const timeval& time) = 0;
  virtual void message(const MessageReader& reader, bool sent, const ConnectionKey& connection) = 0;
  // A message longer than a stream holds: its header; its bytes are passed over.
  virtual void tooLong(const MessageHeader& header, bool sent, const ConnectionKey& connection) = 0;
  virtual void event(const ConnectionKey& connection, const ConnectionEvent& event) = 0;

 protected:
  ~ConnectionEvents() = default;
};

}  // namespace vestrel
