// JSON text: parse, normalize, print, hash.
//
// Checked for every input that is valid UTF-8 (the only text the module is
// given):
// - the three text functions agree with parse_json / normalize_value /
//   print_json, errors included, and the hashes are SHA-256 of the canonical
//   text;
// - every number converts as the reference conversion says (kind and bits),
//   every double's shortest digits are std::to_chars' and it prints as the
//   reference layout of its shortest digits;
// - the canonical text parses again, and normalizing it once more changes
//   exactly the doubles that do not read back as themselves, each into the
//   double the reference predicts, and nothing else. So the text is a fixed
//   point exactly when none of its doubles moves, in particular whenever it
//   holds no double. (There is no general fixed point: a double can move
//   again on every round, and some cycle.)
#include <cstdint>
#include <string>
#include <vector>

#include "common.h"
#include "json/canonical.h"
#include "json/hash.h"
#include "json/normalize.h"
#include "json/number.h"
#include "json/parse.h"
#include "json/print.h"

using namespace quarn;
using namespace quarn::json;

namespace {

std::string print(const JsonValue& v) {
  Buffer b;
  print_json(v, b);
  return std::string(b.view());
}

// Numbers of a value in document order; false when it holds an object (whose
// members are reordered and deduplicated, so the order is not the text's).
bool collect_numbers(const JsonValue& v, std::vector<JsonValue>& out) {
  switch (v.kind()) {
    case Kind::UInt:
    case Kind::Int:
    case Kind::Double: out.push_back(v); return true;
    case Kind::Array:
      for (const JsonValue& e : v.elements())
        if (!collect_numbers(e, out)) return false;
      return true;
    case Kind::Object: return false;
    default: return true;
  }
}

// The module's shortest digits of a double, and the digits the parser attached
// to it, are std::to_chars' shortest digits.
void check_digits(const JsonValue& v) {
  const double d = v.as_double();
  if (d == 0.0) return;
  std::string want;
  int want_k;
  fuzzref::to_chars_shortest(d, want, want_k);
  const ShortestDigits got = shortest_digits(d);
  FUZZ_CHECK(std::string_view(got.digits, static_cast<std::size_t>(got.n)) == want && got.k == want_k);
  if (v.double_digits() != 0) {
    const ShortestDigits known = digits_from(v.double_digits(), v.double_k());
    FUZZ_CHECK(std::string_view(known.digits, static_cast<std::size_t>(known.n)) == want &&
               known.k == want_k);
  }
}

// Every double prints as the reference layout of its value, whether or not
// the parser attached its digits.
void check_doubles(const JsonValue& v, bool& any_double) {
  switch (v.kind()) {
    case Kind::Double: {
      any_double = true;
      check_digits(v);
      auto ref = fuzzref::format_double(v.as_double());
      std::string got = print(v);
      if (ref) FUZZ_CHECK(got == *ref);
      char buf[kMaxDoubleText];
      FUZZ_CHECK(std::string_view(buf, format_double(v.as_double(), buf)) == got);
      break;
    }
    case Kind::Array:
      for (const JsonValue& e : v.elements()) check_doubles(e, any_double);
      break;
    case Kind::Object:
      for (const JsonMember& m : v.members()) check_doubles(m.value, any_double);
      break;
    default: break;
  }
}

void check_number(const JsonValue& v, std::string_view token) {
  fuzzref::Number r = fuzzref::read_number(token);
  FUZZ_CHECK(r.length == token.size());
  switch (v.kind()) {
    case Kind::UInt: FUZZ_CHECK(r.kind == fuzzref::Number::UInt && r.u == v.as_uint()); break;
    case Kind::Int: FUZZ_CHECK(r.kind == fuzzref::Number::Int && r.i == v.as_int() && r.i < 0); break;
    case Kind::Double:
      FUZZ_CHECK(r.kind == fuzzref::Number::Double && fuzzref::same_bits(r.d, v.as_double()));
      break;
    default: FUZZ_CHECK(false);
  }
}

// What one more normalization of canonical text `t` gives, predicted token by
// token with the reference: each double is read, printed and read again.
std::optional<std::string> predict_next(std::string_view t, bool& moves) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  fuzzref::number_tokens(t, spans);
  std::string out;
  std::size_t at = 0;
  moves = false;
  for (auto [off, len] : spans) {
    out.append(t.substr(at, off - at));
    std::string_view tok = t.substr(off, len);
    fuzzref::Number a = fuzzref::read_number(tok);
    FUZZ_CHECK(a.length == len && a.kind != fuzzref::Number::Invalid);
    if (a.kind == fuzzref::Number::OutOfRange) return std::nullopt;
    if (a.kind != fuzzref::Number::Double) {
      out.append(tok);
    } else {
      auto text_a = fuzzref::format_double(a.d);
      if (!text_a) return std::nullopt;
      fuzzref::Number b = fuzzref::read_number(*text_a);
      if (b.kind != fuzzref::Number::Double) return std::nullopt;
      auto text_b = fuzzref::format_double(b.d);
      if (!text_b) return std::nullopt;
      if (*text_b != tok) moves = true;
      out += *text_b;
    }
    at = off + len;
  }
  out.append(t.substr(at));
  return out;
}

// Length of the canonical text of `v`, counted from the value: a check on the
// printer that does not print.
std::size_t printed_size(const JsonValue& v) {
  auto string_size = [](std::string_view s) {
    std::size_t n = 2;
    for (unsigned char c : s) {
      if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r') n += 2;
      else if (c < 0x20) n += 6;
      else n += 1;
    }
    return n;
  };
  switch (v.kind()) {
    case Kind::Null: return 4;
    case Kind::Bool: return v.as_bool() ? 4 : 5;
    case Kind::UInt: return std::to_string(v.as_uint()).size();
    case Kind::Int: return std::to_string(v.as_int()).size();
    case Kind::Double: {
      char tmp[kMaxDoubleText];
      return format_double(v.as_double(), tmp);
    }
    case Kind::String: return string_size(v.as_string());
    case Kind::Array: {
      std::size_t n = 2;
      for (const JsonValue& e : v.elements()) n += printed_size(e) + 1;
      return v.size() == 0 ? n : n - 1;
    }
    case Kind::Object: {
      std::size_t n = 2;
      for (const JsonMember& m : v.members()) n += string_size(m.name) + 1 + printed_size(m.value) + 1;
      return v.size() == 0 ? n : n - 1;
    }
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzzref::as_text(data, size);
  if (!fuzzref::utf8_valid(text)) return -1;

  Arena arena;
  Result<JsonValue> parsed = parse_json(text, arena);
  Result<Buffer> canonical = canonical_json_text(text);
  Result<HashText> hash = deterministic_hash(text);
  auto both = normalize_and_hash(text);
  if (!parsed) {
    const ModuleError& e = parsed.error();
    FUZZ_CHECK(e.kind == ErrorKind::InvalidJson);
    FUZZ_CHECK(!canonical && !hash && !both);
    for (const ModuleError* other : {&canonical.error(), &hash.error(), &both.error()})
      FUZZ_CHECK(other->kind == e.kind && other->message == e.message);
    if (e.message.starts_with("number out of range")) {
      // Some number of the text is out of range by the reference too.
      std::vector<std::pair<std::size_t, std::size_t>> spans;
      fuzzref::number_tokens(text, spans);
      bool found = false;
      for (auto [off, len] : spans)
        found |= fuzzref::read_number(text.substr(off, len)).kind == fuzzref::Number::OutOfRange;
      FUZZ_CHECK(found);
    }
    return 0;
  }
  const JsonValue root = *parsed;

  // Numbers against the reference conversion (in text order when the value
  // keeps it: no objects).
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  fuzzref::number_tokens(text, spans);
  for (auto [off, len] : spans) {
    fuzzref::Number r = fuzzref::read_number(text.substr(off, len));
    FUZZ_CHECK(r.length == len && r.kind != fuzzref::Number::Invalid &&
               r.kind != fuzzref::Number::OutOfRange);
  }
  std::vector<JsonValue> numbers;
  if (collect_numbers(root, numbers)) {
    FUZZ_CHECK(numbers.size() == spans.size());
    for (std::size_t i = 0; i < numbers.size(); ++i)
      check_number(numbers[i], text.substr(spans[i].first, spans[i].second));
  }
  bool any_double = false;
  check_doubles(root, any_double);

  // Printing: exact size, and borrowed strings print like copied ones.
  std::string t0 = print(root);
  FUZZ_CHECK(printed_size(root) == t0.size());
  {
    Arena a2;
    Result<JsonValue> borrowed = parse_json(text, a2, StringStorage::Borrow);
    FUZZ_CHECK(borrowed && print(*borrowed) == t0);
  }

  // Normalization and the canonical text.
  Result<JsonValue> norm = normalize_value(root, arena);
  Buffer direct;
  bool moved = true;
  bool direct_ok = print_json_normalized(root, direct, &moved);
  if (!norm) {
    const ModuleError& e = norm.error();
    FUZZ_CHECK(e.kind == ErrorKind::Serialization && !direct_ok);
    FUZZ_CHECK(!canonical && !hash && !both);
    for (const ModuleError* other : {&canonical.error(), &hash.error(), &both.error()})
      FUZZ_CHECK(other->kind == e.kind && other->message == e.message);
    return 0;
  }
  std::string t1 = print(*norm);
  FUZZ_CHECK(direct_ok && direct.view() == t1);
  if (!moved) FUZZ_CHECK(t1 == t0);
  if (!any_double) FUZZ_CHECK(t1 == t0);
  FUZZ_CHECK(canonical && canonical->view() == t1);
  std::string digest = fuzzref::sha256_hex(t1);
  FUZZ_CHECK(hash && as_view(*hash) == digest);
  FUZZ_CHECK(both && both->first.view() == t1 && as_view(both->second) == digest);
  FUZZ_CHECK(as_view(hash_json_value(*norm)) == digest);
  bool norm_has_double = false;
  check_doubles(*norm, norm_has_double);

  // The canonical text reads back, and one more normalization moves exactly
  // the doubles that the reference says move.
  Arena a3;
  Result<JsonValue> again = parse_json(t1, a3);
  FUZZ_CHECK(again);
  Result<Buffer> t2 = canonical_json_text(t1);
  bool moves = false;
  std::optional<std::string> predicted = predict_next(t1, moves);
  if (predicted) {
    FUZZ_CHECK(t2 && t2->view() == *predicted);
    FUZZ_CHECK((t2->view() == t1) == !moves);
  }
  if (!norm_has_double) FUZZ_CHECK(t2 && t2->view() == t1);
  return 0;
}
