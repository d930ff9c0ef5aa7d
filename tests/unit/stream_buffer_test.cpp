#include "stream/stream_buffer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace vestrel {
namespace {

using test::Bytes;
using test::cstr;
using test::dword;
using test::header;
using test::msg;
using Front = StreamBuffer::Front;

bool append(StreamBuffer& buffer, const Bytes& bytes) {
  return buffer.append(bytes.data(), static_cast<int32_t>(bytes.size()));
}

Bytes extractBytes(StreamBuffer& buffer) {
  MessageReader reader;
  buffer.extract(reader);
  return Bytes(reader.bytes().begin(), reader.bytes().end());
}

TEST(StreamBuffer, EmptyHasNoMessage) {
  StreamBuffer buffer;
  EXPECT_FALSE(buffer.hasMessage());
  EXPECT_EQ(buffer.front(), Front::NeedMore);
}

TEST(StreamBuffer, HeaderOnlyMessageIsWholeAndAtEnd) {
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, {0xFF, 0x25, 0x04, 0x00}));
  ASSERT_TRUE(buffer.hasMessage());
  MessageReader reader;
  buffer.extract(reader);
  EXPECT_EQ(reader.id(), 0x25);
  EXPECT_EQ(reader.size(), 4);
  EXPECT_EQ(reader.position(), 4);
  EXPECT_TRUE(reader.atEnd());
  EXPECT_EQ(buffer.count(), 0);
}

TEST(StreamBuffer, MessageCompletedBySecondAppend) {
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, {0xFF, 0x0A, 0x08}));
  EXPECT_FALSE(buffer.hasMessage());
  ASSERT_TRUE(append(buffer, {0x00, 1, 2, 3, 4}));
  ASSERT_TRUE(buffer.hasMessage());
  EXPECT_EQ(extractBytes(buffer), (Bytes{0xFF, 0x0A, 0x08, 0x00, 1, 2, 3, 4}));
  EXPECT_FALSE(buffer.hasMessage());
}

TEST(StreamBuffer, FewerThanFourBytesNeverReadAsHeader) {
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, {0xFF, 0x25, 0x02}));  // length field would be 2 if read
  EXPECT_EQ(buffer.front(), Front::NeedMore);
}

TEST(StreamBuffer, TwoMessagesInOnePayload) {
  StreamBuffer buffer;
  const Bytes first = msg(0x25, dword(7));
  const Bytes second = msg(0x0E, cstr("hi"));
  ASSERT_TRUE(append(buffer, first + second));
  ASSERT_TRUE(buffer.hasMessage());
  EXPECT_EQ(extractBytes(buffer), first);
  ASSERT_TRUE(buffer.hasMessage());
  EXPECT_EQ(extractBytes(buffer), second);
  EXPECT_EQ(buffer.count(), 0);
  EXPECT_FALSE(buffer.hasMessage());
}

TEST(StreamBuffer, AppendMovesPendingBytesToMakeRoom) {
  StreamBuffer buffer;
  // Bring start to 4000 with 50 bytes pending behind it.
  const Bytes filler = msg(0x01, Bytes(4000 - 4, 0xAA));
  const Bytes pending = header(0xFF, 0x0E, 150) + Bytes(46, 0x42);
  ASSERT_TRUE(append(buffer, filler + pending));
  extractBytes(buffer);
  ASSERT_EQ(buffer.start(), 4000);
  ASSERT_EQ(buffer.count(), 50);

  ASSERT_TRUE(append(buffer, Bytes(100, 0x43)));
  EXPECT_EQ(buffer.start(), 0);
  EXPECT_EQ(buffer.count(), 150);
  ASSERT_TRUE(buffer.hasMessage());
  EXPECT_EQ(extractBytes(buffer), pending + Bytes(100, 0x43));
}

TEST(StreamBuffer, AppendIsAllOrNothing) {
  StreamBuffer buffer;
  const Bytes full = msg(0x01, Bytes(4096 - 4, 0x11));
  EXPECT_TRUE(append(buffer, full));
  EXPECT_EQ(buffer.count(), 4096);
  EXPECT_FALSE(append(buffer, {0x01}));
  EXPECT_EQ(buffer.count(), 4096);

  StreamBuffer empty;
  EXPECT_FALSE(append(empty, Bytes(4097, 0xFF)));
  EXPECT_EQ(empty.count(), 0);
  EXPECT_EQ(empty.acceptable(), 4096u);
}

TEST(StreamBuffer, NegativeOrZeroLengthStoresNothing) {
  StreamBuffer buffer;
  const uint8_t byte = 0xFF;
  EXPECT_FALSE(buffer.append(&byte, -1));
  EXPECT_FALSE(buffer.append(&byte, INT32_MIN));
  EXPECT_TRUE(buffer.append(&byte, 0));
  EXPECT_EQ(buffer.count(), 0);
}

TEST(StreamBuffer, EmptiedBufferStoresFromWhereItStopped) {
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, msg(0x01, Bytes(6, 0)) + msg(0x25, dword(1))));
  extractBytes(buffer);
  const uint16_t lastStart = buffer.start();
  extractBytes(buffer);
  EXPECT_EQ(buffer.count(), 0);
  EXPECT_EQ(buffer.start(), lastStart);
  ASSERT_TRUE(append(buffer, msg(0x0A)));
  EXPECT_EQ(extractBytes(buffer), msg(0x0A));
}

TEST(StreamBuffer, MessageOfExactlyTheCapacityIsCut) {
  StreamBuffer buffer;
  const Bytes whole = msg(0x0F, Bytes(4096 - 4, 0x61));
  ASSERT_TRUE(append(buffer, Bytes(whole.begin(), whole.begin() + 1000)));
  ASSERT_TRUE(append(buffer, Bytes(whole.begin() + 1000, whole.end())));
  ASSERT_TRUE(buffer.hasMessage());
  EXPECT_EQ(extractBytes(buffer), whole);
}

// Headers that cannot begin a message: the stream has lost step.
struct OutOfStepCase {
  const char* name;
  Bytes stream;
  Bytes keptAfterDrop;  // what is pending after dropToNextMarker
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const OutOfStepCase& c, std::ostream* out) { *out << c.name; }

class OutOfStep : public ::testing::TestWithParam<OutOfStepCase> {};

TEST_P(OutOfStep, DropsToTheNextMarker) {
  const OutOfStepCase& c = GetParam();
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, c.stream));
  ASSERT_EQ(buffer.front(), Front::OutOfStep);
  EXPECT_FALSE(buffer.hasMessage());
  buffer.dropToNextMarker();
  const auto pending = buffer.pending();
  EXPECT_EQ(Bytes(pending.begin(), pending.end()), c.keptAfterDrop);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, OutOfStep,
    ::testing::Values(OutOfStepCase{"LengthZero", header(0xFF, 0x25, 0) + Bytes{1, 2}, {}},
                      OutOfStepCase{"LengthThree", header(0xFF, 0x25, 3) + msg(0x25), msg(0x25)},
                      OutOfStepCase{"LengthOneMarkerLater", {0xFF, 0x00, 0x01, 0x00, 0x07, 0xFF, 0x0A}, {0xFF, 0x0A}},
                      OutOfStepCase{"ProtocolByteBeforeMessage", Bytes{0x01} + msg(0x50, Bytes(60, 0)),
                                    msg(0x50, Bytes(60, 0))},
                      OutOfStepCase{"UnmarkedHugeLengthNoMarker", {0x01, 0x02, 0xF0, 0xF0, 0x05}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StreamBuffer, ProtocolByteBeforeFirstMessageRecovers) {
  StreamBuffer buffer;
  const Bytes first = msg(0x50, Bytes(0x3A - 4, 0x00));
  ASSERT_TRUE(append(buffer, Bytes{0x01} + first));
  ASSERT_EQ(buffer.front(), Front::OutOfStep);
  buffer.dropToNextMarker();
  ASSERT_TRUE(buffer.hasMessage());
  EXPECT_EQ(extractBytes(buffer), first);
}

TEST(StreamBuffer, MarkedLengthWithinCapacityWaitsForItsBytes) {
  // Lengths from 4 to 4096 are trusted, marked or not.
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, header(0x00, 0x0A, 4096) + Bytes(10, 0)));
  EXPECT_EQ(buffer.front(), Front::NeedMore);
}

TEST(StreamBuffer, TooLongMessageIsPassedOverAcrossAppends) {
  StreamBuffer buffer;
  const uint16_t length = 6000;
  ASSERT_TRUE(append(buffer, header(0xFF, 0x0F, length) + Bytes(996, 0x41)));
  ASSERT_EQ(buffer.front(), Front::TooLong);
  EXPECT_EQ(buffer.frontHeader().id, 0x0F);
  EXPECT_EQ(buffer.frontHeader().length, length);
  buffer.dropFrontMessage();
  EXPECT_EQ(buffer.count(), 0);
  EXPECT_EQ(buffer.discardOwed(), 5000u);
  EXPECT_EQ(buffer.acceptable(), 5000u + 4096u);

  // 4000 more bytes of the long message, then its last 1000 with a real
  // message behind them.
  ASSERT_TRUE(append(buffer, Bytes(4000, 0xFF)));
  EXPECT_EQ(buffer.count(), 0);
  EXPECT_EQ(buffer.front(), Front::NeedMore);
  const Bytes next = msg(0x25, dword(9));
  ASSERT_TRUE(append(buffer, Bytes(1000, 0x42) + next));
  EXPECT_EQ(buffer.discardOwed(), 0u);
  ASSERT_TRUE(buffer.hasMessage());
  EXPECT_EQ(extractBytes(buffer), next);
}

TEST(StreamBuffer, DroppingAllPendingStartsAfresh) {
  StreamBuffer buffer;
  const Bytes ping = msg(0x25, dword(9));
  ASSERT_TRUE(append(buffer, ping + Bytes{0x00, 0xFF}));
  EXPECT_EQ(extractBytes(buffer), ping);
  ASSERT_EQ(buffer.count(), 2);
  buffer.dropAllPending();
  EXPECT_EQ(buffer.count(), 0);
  EXPECT_EQ(buffer.start(), 0);
  ASSERT_TRUE(append(buffer, ping));
  EXPECT_EQ(extractBytes(buffer), ping);
}

TEST(StreamBuffer, RefusedAppendKeepsWhatIsOwed) {
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, header(0xFF, 0x0F, 5000)));
  buffer.dropFrontMessage();
  ASSERT_EQ(buffer.discardOwed(), 4996u);
  EXPECT_FALSE(append(buffer, Bytes(4996 + 4097, 0)));
  EXPECT_EQ(buffer.discardOwed(), 4996u);
  EXPECT_EQ(buffer.count(), 0);
}

TEST(MessageReader, ReadsFieldsInOrder) {
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, msg(0x50, dword(0x12345678) + Bytes{0x9C} + cstr("AB") + Bytes{0x43})));
  MessageReader reader;
  buffer.extract(reader);
  EXPECT_EQ(reader.readDword(), 0x12345678u);
  EXPECT_EQ(reader.readByte(), 0x9C);
  EXPECT_EQ(reader.readString(), "AB");
  EXPECT_EQ(reader.position(), 4 + 4 + 1 + 3);
  EXPECT_EQ(reader.readByte(), 0x43);
  EXPECT_TRUE(reader.atEnd());
}

TEST(MessageReader, SkipMovesByCount) {
  StreamBuffer buffer;
  ASSERT_TRUE(append(buffer, msg(0x33, Bytes(12, 0) + dword(5))));
  MessageReader reader;
  buffer.extract(reader);
  reader.skip(12);
  EXPECT_EQ(reader.readDword(), 5u);
  EXPECT_TRUE(reader.atEnd());
}

// Reads that run past the message must not see the bytes stored behind it:
// a second message sits there in every case below.
class ReaderAtTheEnd : public ::testing::Test {
 protected:
  MessageReader readerFor(const Bytes& body) {
    buffer_ = StreamBuffer();
    const Bytes stream = msg(0x0E, body) + msg(0x0F, cstr("BEHIND") + dword(0xDEADBEEF));
    EXPECT_TRUE(append(buffer_, stream));
    MessageReader reader;
    buffer_.extract(reader);
    return reader;
  }
  StreamBuffer buffer_;
};

TEST_F(ReaderAtTheEnd, NumberMissingBytesReadAsZero) {
  MessageReader reader = readerFor({0x34, 0x12});
  EXPECT_EQ(reader.readDword(), 0x1234u);
  EXPECT_EQ(reader.readDword(), 0u);
  EXPECT_EQ(reader.readByte(), 0u);
}

TEST_F(ReaderAtTheEnd, TextRunningIntoTheEndStopsThere) {
  MessageReader reader = readerFor(test::raw("HELLO"));
  EXPECT_EQ(reader.readString(), "HELLO");
  EXPECT_EQ(reader.readString(), "");
  EXPECT_TRUE(reader.exhausted());
}

TEST_F(ReaderAtTheEnd, TextAtTheEndIsEmpty) {
  MessageReader reader = readerFor(cstr("A"));
  EXPECT_EQ(reader.readString(), "A");
  EXPECT_TRUE(reader.atEnd());
  EXPECT_EQ(reader.readString(), "");
  EXPECT_EQ(reader.readString(), "");
}

TEST_F(ReaderAtTheEnd, SkipPastTheEndReadsNothing) {
  MessageReader reader = readerFor(dword(1));
  reader.skip(255);
  EXPECT_EQ(reader.readDword(), 0u);
  EXPECT_EQ(reader.readString(), "");
  EXPECT_FALSE(reader.atEnd());
  EXPECT_TRUE(reader.exhausted());
}

}  // namespace
}  // namespace vestrel
