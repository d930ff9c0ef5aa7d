// The full set's chat messages besides the classic ones (0x0A-0x0F, 0x25):
// keep-alives, leaving chat and the message box.
#include "decode/decoder_sets.h"
#include "decode/field_builders.h"

namespace vestrel {

namespace {

using namespace field;  // NOLINT(google-build-using-namespace): the tables read as field lists

// A field a line, as the protocol's field lists are written.
// clang-format off

constexpr CodeText kBoxStyleTexts[] = {{0, "OK"}, {1, "OK/Cancel"}, {4, "Yes/No"}};
constexpr CodeTable kBoxStyles{.rows = kBoxStyleTexts, .plain = true};

constexpr Field kMessageBox[] = {
    code("style", "Style: %u", kBoxStyles, ", "),
    text("text", "Text: %s, "),
    text("caption", "Caption: %s\n"),
};

// clang-format on

// 0x00 and 0x10 have no body; 0x13 is defined and never sent.
constexpr DecoderEntry kClient[] = {{0x00, {}}, {0x10, {}}};
constexpr DecoderEntry kServer[] = {{0x00, {}}, {0x13, {}}, {0x19, kMessageBox}};

}  // namespace

TopicDecoders chatDecoders() { return {kClient, kServer}; }

}  // namespace vestrel
