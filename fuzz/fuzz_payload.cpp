// Export payload processing: payload text and optional merge rules text.
//
// Input: the payload text, then optionally a NUL byte and the rules text.
// Checked: failures come from the right step with that step's error; the
// normalized text is the canonical text; the merged text and the schema text
// equal what a reference application of the rules gives (Base64 and lossy
// UTF-8 from the reference, JSON members parsed with parse_json); the hashes
// are SHA-256 of those texts and equal the value path's; the Struct bytes are
// the same from all three encoders, in canonical form, and decode.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "encode.h"
#include "json/canonical.h"
#include "json/normalize.h"
#include "json/parse.h"
#include "json/print.h"
#include "payload/export_payload.h"
#include "payload/merge_rules.h"
#include "payload/process.h"
#include "proto/struct.h"
#include "proto/verbatim.h"

using namespace quarn;
using namespace quarn::json;
using quarn::payload::MergeRule;
using quarn::payload::SchemaMerges;

namespace {

std::string print(const JsonValue& v) {
  Buffer b;
  print_json(v, b);
  return std::string(b.view());
}

std::string quoted(std::string_view s) {
  Buffer b;
  print_string(s, b);
  return std::string(b.view());
}

int type_code(const JsonValue& v) {
  switch (v.kind()) {
    case Kind::Null: return 4;
    case Kind::Bool: return 3;
    case Kind::String: return 2;
    case Kind::Array: return 7;
    case Kind::Object: return 6;
    default: return 1;
  }
}

// The schema text of `v`; `rule` annotates it (top-level properties only).
std::string schema_text(const JsonValue& v, const MergeRule* rule);

std::string properties_text(const JsonValue& v, const SchemaMerges* merges) {
  std::string out = "{";
  if (v.is_object()) {
    bool first = true;
    for (const JsonMember& m : v.members()) {
      if (!first) out += ',';
      first = false;
      out += quoted(m.name) + ":" + schema_text(m.value, merges ? merges->find(m.name) : nullptr);
    }
  }
  return out + "}";
}

std::string schema_text(const JsonValue& v, const MergeRule* rule) {
  std::string out = "{";
  if (rule && rule->decoded_type) out += "\"decoded_type\":" + std::to_string(*rule->decoded_type) + ",";
  if (rule && rule->encoding) out += "\"encoding\":" + std::to_string(*rule->encoding) + ",";
  if (v.is_array() && v.size() > 0) out += "\"items\":" + schema_text(v.elements()[0], nullptr) + ",";
  if (rule && rule->match_importance && std::isfinite(*rule->match_importance))
    out += "\"match_importance\":" + *fuzzref::format_double(*rule->match_importance) + ",";
  out += "\"properties\":" + properties_text(v, nullptr) + ",";
  out += "\"type\":" + std::to_string(type_code(v));
  return out + "}";
}

std::string top_schema_text(const JsonValue& v, const SchemaMerges& merges) {
  std::string out = "{";
  if (v.is_array() && v.size() > 0) out += "\"items\":" + schema_text(v.elements()[0], nullptr) + ",";
  out += "\"properties\":" + properties_text(v, merges.empty() ? nullptr : &merges) + ",";
  return out + "\"type\":" + std::to_string(type_code(v)) + "}";
}

// One member after its rule: text of the value, and its schema text.
void apply_rule(const JsonValue& value, const MergeRule& rule, Arena& arena, std::string& text,
                std::string& schema) {
  std::optional<std::string> str;
  if (value.is_string()) str = std::string(value.as_string());
  if (str && rule.encoding == 1) {
    if (auto bytes = fuzzref::base64_decode(*str)) str = fuzzref::utf8_lossy(*bytes);
  }
  if (str && rule.decoded_type == 1) {
    Result<JsonValue> parsed = parse_json(*str, arena);
    if (parsed) {
      text = print(*parsed);
      schema = schema_text(*parsed, &rule);
      return;
    }
  }
  if (str) {
    JsonValue s = JsonValue::string_copy(arena, *str);
    text = quoted(*str);
    schema = schema_text(s, &rule);
    return;
  }
  text = print(value);
  schema = schema_text(value, &rule);
}

bool same_error(const ModuleError& a, const ModuleError& b) {
  return a.kind == b.kind && a.message == b.message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = fuzzref::as_text(data, size);
  std::string_view payload_text = input;
  std::optional<std::string_view> rules_text;
  if (std::size_t nul = input.find('\0'); nul != std::string_view::npos) {
    payload_text = input.substr(0, nul);
    rules_text = input.substr(nul + 1);
  }
  if (!fuzzref::utf8_valid(input)) return -1;

  auto res = payload::process_export_payload(payload_text, rules_text);

  // Which step fails, with which error.
  Arena arena;
  Result<JsonValue> parsed = parse_json(payload_text, arena, StringStorage::Borrow);
  if (!parsed) {
    FUZZ_CHECK(!res && same_error(res.error(), parsed.error()));
    return 0;
  }
  Result<JsonValue> norm = normalize_value(*parsed, arena);
  if (!norm) {
    FUZZ_CHECK(!res && same_error(res.error(), norm.error()));
    return 0;
  }
  SchemaMerges merges;
  if (rules_text) {
    auto m = payload::parse_schema_merges(*rules_text);
    if (!m) {
      FUZZ_CHECK(!res && same_error(res.error(), m.error()));
      return 0;
    }
    merges = std::move(*m);
  }
  FUZZ_CHECK(res);

  // Canonical texts, hashes.
  std::string normalized = print(*norm);
  FUZZ_CHECK(res->normalized_text() == normalized);
  FUZZ_CHECK(print(res->normalized) == normalized);
  FUZZ_CHECK(as_view(res->value_hash) == fuzzref::sha256_hex(res->merged_text()));
  FUZZ_CHECK(as_view(res->schema_hash) == fuzzref::sha256_hex(res->schema_text()));

  // The rules applied by the reference.
  std::string merged, schema;
  if (norm->is_object() && !merges.empty()) {
    merged = "{";
    std::string props = "{";
    bool first = true;
    for (const JsonMember& m : norm->members()) {
      std::string t, s;
      if (const MergeRule* rule = merges.find(m.name)) apply_rule(m.value, *rule, arena, t, s);
      else t = print(m.value), s = schema_text(m.value, nullptr);
      if (!first) merged += ',', props += ',';
      first = false;
      merged += quoted(m.name) + ":" + t;
      props += quoted(m.name) + ":" + s;
    }
    merged += "}";
    schema = "{\"properties\":" + props + "},\"type\":6}";
  } else {
    merged = normalized;
    schema = top_schema_text(*norm, merges);
  }
  FUZZ_CHECK(res->merged_text() == merged);
  FUZZ_CHECK(res->schema_text() == schema);

  // The value path gives the same hashes.
  Arena arena2;
  auto value_path = payload::process_payload_value(*parsed, rules_text, arena2);
  FUZZ_CHECK(value_path);
  FUZZ_CHECK(value_path->value_hash == res->value_hash && value_path->schema_hash == res->schema_hash);
  FUZZ_CHECK(print(value_path->merged_payload) == merged && print(value_path->schema) == schema);

  // Struct bytes: the two-pass writer from the JSON value and the records encoder agree.
  std::vector<std::size_t> sizes;
  std::size_t n = proto::measure_json_struct(res->normalized, sizes);
  std::string direct(n, '\0');
  const std::size_t* cursor = sizes.data();
  char* end = proto::write_json_struct(res->normalized, cursor, direct.data());
  FUZZ_CHECK(end == direct.data() + n && cursor == sizes.data() + sizes.size());
  Arena arena3;
  Buffer records = fuzzref::encode_protobuf_struct(proto::json_to_protobuf_struct(res->normalized, arena3));
  FUZZ_CHECK(records.view() == direct);
  FUZZ_CHECK(proto::is_verbatim_struct(direct, 0));
  auto decoded = proto::decode_protobuf_struct(direct, arena3);
  FUZZ_CHECK(decoded);
  FUZZ_CHECK(decoded->size == (res->normalized.is_object() ? res->normalized.size() : 0));
  return 0;
}
