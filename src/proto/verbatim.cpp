#include "proto/verbatim.h"

#include <cstdint>

#include "base/utf8.h"
#include "proto/span_fields.h"
#include "proto/wire.h"

namespace quarn::proto {

namespace {

struct Cursor {
  const unsigned char* p;
  const unsigned char* end;

  bool done() const noexcept { return p == end; }
  bool next_is(unsigned char b) const noexcept { return p != end && *p == b; }
};

Cursor cursor_of(std::string_view s) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  return Cursor{p, p + s.size()};
}

// A varint in its shortest form (what the writer produces): at most ten
// bytes, no redundant high zero groups.
bool varint(Cursor& c, std::uint64_t& v) noexcept {
  v = 0;
  for (int i = 0; i < 10; ++i) {
    if (c.p == c.end) return false;
    const unsigned b = *c.p++;
    if (i == 9 && b > 1) return false;
    v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
    if (b < 0x80) return i == 0 || b != 0;
  }
  return false;
}

// A signed 32-bit code: the writer sign-extends it to 64 bits.
bool int32_field(Cursor& c, std::int32_t& v) noexcept {
  std::uint64_t x;
  if (!varint(c, x)) return false;
  v = static_cast<std::int32_t>(static_cast<std::uint32_t>(x));
  return x == int32_wire(v);
}

// A length-delimited body lying inside the current body.
bool body(Cursor& c, Cursor& out) noexcept {
  std::uint64_t n;
  if (!varint(c, n) || n > static_cast<std::uint64_t>(c.end - c.p)) return false;
  out = Cursor{c.p, c.p + n};
  c.p += n;
  return true;
}

bool text(Cursor& c, std::string_view& out, bool allow_empty) noexcept {
  Cursor s;
  if (!body(c, s) || (!allow_empty && s.done())) return false;
  out = std::string_view(reinterpret_cast<const char*>(s.p), static_cast<std::size_t>(s.end - s.p));
  return is_valid_utf8(out);
}

bool skip_fixed64(Cursor& c) noexcept {
  if (c.end - c.p < 8) return false;
  c.p += 8;
  return true;
}

// Map keys must rise strictly; a missing key is the empty key, which sorts first.
struct KeyOrder {
  bool any = false;
  std::string_view last;
  bool accept(std::string_view key) noexcept {
    if (any && !(last < key)) return false;
    any = true;
    last = key;
    return true;
  }
};

bool struct_body(Cursor c, int level) noexcept;

// A Value of `level` with exactly one kind (`allow_empty`: a list element may
// hold none).
bool value_body(Cursor c, int level, bool allow_empty) noexcept {
  if (level > kRecursionLimit) return false;
  if (c.done()) return allow_empty;
  const unsigned key = *c.p++;
  switch (key) {
    case 0x08: {  // null_value
      std::int32_t v;
      if (!int32_field(c, v)) return false;
      break;
    }
    case 0x11:  // number_value
      if (!skip_fixed64(c)) return false;
      break;
    case 0x1A: {  // string_value
      std::string_view s;
      if (!text(c, s, true)) return false;
      break;
    }
    case 0x20:  // bool_value: written as 00 or 01
      if (c.done() || *c.p > 1) return false;
      ++c.p;
      break;
    case 0x2A: {  // struct_value
      Cursor s;
      if (!body(c, s) || !struct_body(s, level + 1)) return false;
      break;
    }
    case 0x32: {  // list_value
      Cursor l;
      if (!body(c, l) || level + 1 > kRecursionLimit) return false;
      while (!l.done()) {
        Cursor e;
        if (*l.p++ != 0x0A || !body(l, e) || !value_body(e, level + 2, true)) return false;
      }
      break;
    }
    default: return false;
  }
  return c.done();
}

// A map entry (of a Struct, or of a schema's properties) in a message of
// `level`, its key field already read: a non-empty key (or none, the empty
// key) above the previous one, and a non-empty value that `value_ok(body,
// level + 2)` accepts (or none).
template <class ValueOk>
bool map_entry(Cursor& c, int level, KeyOrder& order, ValueOk value_ok) noexcept {
  Cursor entry;
  if (!body(c, entry) || level + 1 > kRecursionLimit) return false;
  std::string_view key;
  if (entry.next_is(0x0A)) {
    ++entry.p;
    if (!text(entry, key, false)) return false;
  }
  if (!order.accept(key)) return false;
  if (entry.next_is(0x12)) {
    ++entry.p;
    Cursor v;
    if (!body(entry, v) || v.done() || !value_ok(v, level + 2)) return false;
  }
  return entry.done();
}

bool struct_body(Cursor c, int level) noexcept {
  if (level > kRecursionLimit) return false;
  KeyOrder order;
  auto value_ok = [](Cursor v, int value_level) { return value_body(v, value_level, false); };
  while (!c.done())
    if (*c.p++ != 0x0A || !map_entry(c, level, order, value_ok)) return false;
  return true;
}

// A JsonSchema of `level`: type (non-zero), properties (ascending, non-empty
// names, non-default schemas), items, encoding, decoded_type,
// match_importance, in that order.
bool schema_body(Cursor c, int level) noexcept {
  if (level > kRecursionLimit) return false;
  std::int32_t code;
  if (c.next_is(0x08)) {
    ++c.p;
    if (!int32_field(c, code) || code == 0) return false;
  }
  KeyOrder order;
  // A property's schema is written only when it is not the default one, and
  // a non-empty body in written form never is.
  auto property_ok = [](Cursor s, int property_level) { return schema_body(s, property_level); };
  while (c.next_is(0x12)) {
    ++c.p;
    if (!map_entry(c, level, order, property_ok)) return false;
  }
  if (c.next_is(0x1A)) {
    ++c.p;
    Cursor s;
    if (!body(c, s) || !schema_body(s, level + 1)) return false;
  }
  if (c.next_is(0x20)) {
    ++c.p;
    if (!int32_field(c, code)) return false;
  }
  if (c.next_is(0x28)) {
    ++c.p;
    if (!int32_field(c, code)) return false;
  }
  if (c.next_is(0x31)) {
    ++c.p;
    if (!skip_fixed64(c)) return false;
  }
  return c.done();
}

// SpanStatus: code (non-zero), message (non-empty).
bool status_body(Cursor c) noexcept {
  std::int32_t code;
  std::string_view message;
  if (c.next_is(0x08)) {
    ++c.p;
    if (!int32_field(c, code) || code == 0) return false;
  }
  if (c.next_is(0x12)) {
    ++c.p;
    if (!text(c, message, false)) return false;
  }
  return c.done();
}

// Timestamp / Duration: seconds (non-zero), nanos (non-zero).
bool time_body(Cursor c) noexcept {
  if (c.next_is(0x08)) {
    ++c.p;
    std::uint64_t seconds;
    if (!varint(c, seconds) || seconds == 0) return false;
  }
  if (c.next_is(0x10)) {
    ++c.p;
    std::int32_t nanos;
    if (!int32_field(c, nanos) || nanos == 0) return false;
  }
  return c.done();
}

// One Span field of each kind (proto/span_fields.h), its key already read.
bool verbatim_string(Cursor& c, unsigned wire) noexcept {  // written only when not empty
  std::string_view s;
  return wire == kLengthDelimited && text(c, s, false);
}
bool verbatim_opt_string(Cursor& c, unsigned wire) noexcept {  // written whenever present
  std::string_view s;
  return wire == kLengthDelimited && text(c, s, true);
}
bool verbatim_code(Cursor& c, unsigned wire) noexcept {  // written only when not 0
  std::int32_t code;
  return wire == kVarint && int32_field(c, code) && code != 0;
}
bool verbatim_flag(Cursor& c, unsigned wire) noexcept {  // written only when true, as 01
  if (wire != kVarint || !c.next_is(0x01)) return false;
  ++c.p;
  return true;
}
bool verbatim_value(Cursor& c, unsigned wire) noexcept {
  Cursor b;
  return wire == kLengthDelimited && body(c, b) && struct_body(b, 1);
}
bool verbatim_schema(Cursor& c, unsigned wire) noexcept {
  Cursor b;
  return wire == kLengthDelimited && body(c, b) && schema_body(b, 1);
}
bool verbatim_status(Cursor& c, unsigned wire) noexcept {
  Cursor b;
  return wire == kLengthDelimited && body(c, b) && status_body(b);
}
bool verbatim_timestamp(Cursor& c, unsigned wire) noexcept {
  Cursor b;
  return wire == kLengthDelimited && body(c, b) && time_body(b);
}
bool verbatim_duration(Cursor& c, unsigned wire) noexcept { return verbatim_timestamp(c, wire); }

}  // namespace

bool is_verbatim_struct(std::string_view bytes, int level) noexcept {
  return struct_body(cursor_of(bytes), level);
}

bool is_verbatim_span(std::string_view bytes) noexcept {
  Cursor c = cursor_of(bytes);
  std::uint32_t last = 0;
  while (!c.done()) {
    std::uint64_t key;
    if (!varint(c, key)) return false;
    const std::uint32_t field = static_cast<std::uint32_t>(key >> 3);
    const unsigned wire = static_cast<unsigned>(key & 7);
    if (key > 0xFFFFFFFFull || field <= last) return false;
    last = field;
    // Fields of one kind share a check, so some branches are alike.
    switch (field) {
#define QUARN_SPAN_FIELD(number, member, kind)   \
  case number:                                   \
    if (!verbatim_##kind(c, wire)) return false; \
    break;
      // NOLINTNEXTLINE(bugprone-branch-clone)
      QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
      default: return false;  // no field of a Span
    }
  }
  return true;
}

}  // namespace quarn::proto
