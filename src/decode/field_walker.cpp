#include "decode/field_walker.h"

namespace vestrel {

void walkFields(MessageReader& reader, std::span<const Field> fields, FieldSink& sink) {
  walkFieldsInto(reader, fields, sink);
}

}  // namespace vestrel
