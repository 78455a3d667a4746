// A schema's JSON form to JsonSchema, its encoding, and decoding it back.
//
// Checked: json_to_json_schema takes every member as the conversion rules say
// (integer codes that fit in 64 bits reduced to their low 32 bits, any number
// as match_importance, `items` whenever present, an object's `properties`);
// the measured length is the written length; decoding the bytes gives the
// same schema, and encoding that gives the same bytes.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "json/parse.h"
#include "records.h"

using namespace quarn;
using namespace quarn::json;
using quarn::proto::JsonSchema;

namespace {

std::optional<std::int32_t> code(const JsonValue& v) {
  if (v.kind() == Kind::UInt && v.as_uint() <= static_cast<std::uint64_t>(INT64_MAX))
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.as_uint()));
  if (v.kind() == Kind::Int) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.as_int()));
  return std::nullopt;
}

void check_converted(const JsonValue& v, const JsonSchema& s) {
  if (!v.is_object()) {
    FUZZ_CHECK(s.is_default());
    return;
  }
  const JsonValue* type = v.find("type");
  FUZZ_CHECK(s.type == (type ? code(*type).value_or(0) : 0));
  const JsonValue* enc = v.find("encoding");
  FUZZ_CHECK(s.encoding == (enc ? code(*enc) : std::nullopt));
  const JsonValue* dec = v.find("decoded_type");
  FUZZ_CHECK(s.decoded_type == (dec ? code(*dec) : std::nullopt));
  const JsonValue* mi = v.find("match_importance");
  std::optional<double> want_mi;
  if (mi && mi->is_number()) want_mi = mi->to_double();
  FUZZ_CHECK(fuzzref::same_optional_double(s.match_importance, want_mi));
  const JsonValue* items = v.find("items");
  FUZZ_CHECK((s.items != nullptr) == (items != nullptr));
  if (items) check_converted(*items, *s.items);
  const JsonValue* props = v.find("properties");
  if (props && props->is_object()) {
    auto m = props->members();
    FUZZ_CHECK(s.members().size() == m.size());
    for (std::size_t i = 0; i < m.size(); ++i) {
      FUZZ_CHECK(s.members()[i].name == m[i].name);
      check_converted(m[i].value, s.members()[i].schema);
    }
  } else {
    FUZZ_CHECK(s.members().empty());
  }
}

// Nesting of the encoding below the schema body: a property adds its map
// entry and its schema, `items` its schema.
int wire_depth(const JsonSchema& s) {
  int d = 0;
  for (const auto& p : s.members()) d = std::max(d, 2 + wire_depth(p.schema));
  if (s.items) d = std::max(d, 1 + wire_depth(*s.items));
  return d;
}

std::string encode(const JsonSchema& s) {
  std::vector<std::size_t> sizes;
  std::size_t n = proto::measure_schema(s, sizes);
  FUZZ_CHECK(!sizes.empty() && sizes[0] == n);
  std::string out(n + 1, '\x5a');
  const std::size_t* cursor = sizes.data();
  char* end = proto::write_schema(s, cursor, out.data());
  FUZZ_CHECK(end == out.data() + n && cursor == sizes.data() + sizes.size() && out[n] == '\x5a');
  out.resize(n);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzzref::as_text(data, size);
  if (!fuzzref::utf8_valid(text)) return -1;
  Arena arena;
  Result<JsonValue> v = parse_json(text, arena);
  if (!v) return 0;
  JsonSchema s = proto::json_to_json_schema(*v, arena);
  check_converted(*v, s);
  std::string bytes = encode(s);

  proto::WireReader r(bytes);
  proto::DecodeError e;
  JsonSchema back;
  auto* end = reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size();
  // Decoded as a Span's field would be: the body at level 1.
  bool ok = proto::decode_schema_body(r, end, 1, back, arena, e);
  if (!ok) {
    FUZZ_CHECK(e.reason == "recursion limit reached" && 1 + wire_depth(s) > proto::kRecursionLimit);
    return 0;
  }
  FUZZ_CHECK(1 + wire_depth(s) <= proto::kRecursionLimit);
  proto::finish_schema(back);
  FUZZ_CHECK(fuzzref::same_schema(s, back));
  FUZZ_CHECK(encode(back) == bytes);
  return 0;
}
