#include "proto/span.h"

#include <cassert>

namespace quarn::proto {

namespace {

constexpr std::uint32_t ld(std::uint32_t field) noexcept { return make_key(field, kLengthDelimited); }
constexpr std::uint32_t vi(std::uint32_t field) noexcept { return make_key(field, kVarint); }

// ---- encoding ----------------------------------------------------------------

std::size_t string_size(std::uint32_t field, std::string_view s) noexcept {
  return s.empty() ? 0 : delimited_size(ld(field), s.size());
}
std::size_t int32_size(std::uint32_t field, std::int32_t v) noexcept {
  return v == 0 ? 0 : varint_size(vi(field)) + varint_size(int32_wire(v));
}
std::size_t flag_size(std::uint32_t field, bool b) noexcept { return b ? varint_size(vi(field)) + 1 : 0; }

char* put_string(char* out, std::uint32_t field, std::string_view s) noexcept {
  if (s.empty()) return out;
  out = write_varint(out, ld(field));
  out = write_varint(out, s.size());
  return write_bytes(out, s);
}
char* put_int32(char* out, std::uint32_t field, std::int32_t v) noexcept {
  if (v == 0) return out;
  out = write_varint(out, vi(field));
  return write_varint(out, int32_wire(v));
}
char* put_flag(char* out, std::uint32_t field, bool b) noexcept {
  if (!b) return out;
  out = write_varint(out, vi(field));
  *out++ = 1;
  return out;
}

std::size_t status_body_size(const SpanStatus& s) noexcept {
  return int32_size(1, s.code) + string_size(2, s.message);
}

// Timestamp and Duration bodies (seconds: field 1, nanos: field 2).
template <class T>
std::size_t time_body_size(const T& t) noexcept {
  return (t.seconds == 0 ? 0 : 1 + varint_size(static_cast<std::uint64_t>(t.seconds))) +
         int32_size(2, t.nanos);
}

std::size_t measure_content(const StructContent& c, std::vector<std::size_t>& sizes) {
  if (c.verbatim) return c.verbatim->size();
  return c.json ? measure_json_struct(*c.json, sizes) : measure_struct(c.records, sizes);
}

// One Span field of each kind (proto/span_fields.h), chosen by its type: the
// encoded size, with the lengths of nested bodies appended to `sizes`, and
// the writing, which takes those lengths from `cursor` in the same order.
using Sizes = std::vector<std::size_t>;
std::size_t field_size(std::uint32_t f, std::string_view s, Sizes&) noexcept { return string_size(f, s); }
std::size_t field_size(std::uint32_t f, std::int32_t v, Sizes&) noexcept { return int32_size(f, v); }
std::size_t field_size(std::uint32_t f, bool b, Sizes&) noexcept { return flag_size(f, b); }
std::size_t field_size(std::uint32_t f, const std::optional<std::string_view>& s, Sizes&) noexcept {
  return s ? delimited_size(ld(f), s->size()) : 0;
}
std::size_t field_size(std::uint32_t f, const std::optional<StructContent>& c, Sizes& sizes) {
  return c ? delimited_size(ld(f), measure_content(*c, sizes)) : 0;
}
std::size_t field_size(std::uint32_t f, const std::optional<JsonSchema>& s, Sizes& sizes) {
  return s ? delimited_size(ld(f), measure_schema(*s, sizes)) : 0;
}
std::size_t field_size(std::uint32_t f, const std::optional<SpanStatus>& s, Sizes&) noexcept {
  return s ? delimited_size(ld(f), status_body_size(*s)) : 0;
}
template <class Time>  // Timestamp, Duration
std::size_t field_size(std::uint32_t f, const std::optional<Time>& t, Sizes&) noexcept {
  return t ? delimited_size(ld(f), time_body_size(*t)) : 0;
}

using Cursor = const std::size_t*;
char* put_field(char* out, std::uint32_t f, std::string_view s, Cursor&) noexcept {
  return put_string(out, f, s);
}
char* put_field(char* out, std::uint32_t f, std::int32_t v, Cursor&) noexcept { return put_int32(out, f, v); }
char* put_field(char* out, std::uint32_t f, bool b, Cursor&) noexcept { return put_flag(out, f, b); }
char* put_field(char* out, std::uint32_t f, const std::optional<std::string_view>& s, Cursor&) noexcept {
  if (!s) return out;
  out = write_varint(out, ld(f));
  out = write_varint(out, s->size());
  return write_bytes(out, *s);
}
char* put_field(char* out, std::uint32_t f, const std::optional<StructContent>& c, Cursor& cursor) {
  if (!c) return out;
  out = write_varint(out, ld(f));
  if (c->verbatim) {
    out = write_varint(out, c->verbatim->size());
    return write_bytes(out, *c->verbatim);
  }
  out = write_varint(out, *cursor);
  return c->json ? write_json_struct(*c->json, cursor, out) : write_struct(c->records, cursor, out);
}
char* put_field(char* out, std::uint32_t f, const std::optional<JsonSchema>& s, Cursor& cursor) {
  if (!s) return out;
  out = write_varint(out, ld(f));
  out = write_varint(out, *cursor);
  return write_schema(*s, cursor, out);
}
char* put_field(char* out, std::uint32_t f, const std::optional<SpanStatus>& s, Cursor&) noexcept {
  if (!s) return out;
  out = write_varint(out, ld(f));
  out = write_varint(out, status_body_size(*s));
  out = put_int32(out, 1, s->code);
  return put_string(out, 2, s->message);
}
template <class Time>  // Timestamp, Duration
char* put_field(char* out, std::uint32_t f, const std::optional<Time>& t, Cursor&) noexcept {
  if (!t) return out;
  out = write_varint(out, ld(f));
  out = write_varint(out, time_body_size(*t));
  if (t->seconds != 0) {
    *out++ = static_cast<char>(vi(1));
    out = write_varint(out, static_cast<std::uint64_t>(t->seconds));
  }
  return put_int32(out, 2, t->nanos);
}

// Body length of a Span; the nested bodies' lengths go to `sizes` in the
// order write_span_body consumes them.
std::size_t measure_span_body(const Span& s, Sizes& sizes) {
  if (s.verbatim) return s.verbatim->size();
  std::size_t n = 0;
#define QUARN_SPAN_FIELD(number, member, kind) n += field_size(number, s.member, sizes);
  QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
  return n;
}

char* write_span_body(const Span& s, Cursor& cursor, char* out) {
  if (s.verbatim) return write_bytes(out, *s.verbatim);
#define QUARN_SPAN_FIELD(number, member, kind) out = put_field(out, number, s.member, cursor);
  QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
  return out;
}

// ---- decoding ----------------------------------------------------------------

class SpanDecoder {
 public:
  SpanDecoder(Arena& arena, DecodeError& e) : arena_(arena), e_(e) {}

  bool span(WireReader& r, Span& s) {
    while (r.p < r.end) {
      std::uint32_t field;
      unsigned wt;
      if (!read_key(r, field, wt, e_)) return false;
      if (!span_field(r, field, wt, s)) return false;
    }
#define QUARN_SPAN_FIELD(number, member, kind) finish(s.member, number);
    QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
    return true;
  }

 private:
  bool string(WireReader& r, unsigned wt, std::string_view& out) {
    return expect_wire_type(wt, kLengthDelimited, e_) && read_string(r, out, e_);
  }
  bool int32(WireReader& r, unsigned wt, std::int32_t& out) {
    std::uint64_t v;
    if (!expect_wire_type(wt, kVarint, e_) || !read_varint(r, v, e_)) return false;
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
  }
  bool flag(WireReader& r, unsigned wt, bool& out) {
    std::uint64_t v;
    if (!expect_wire_type(wt, kVarint, e_) || !read_varint(r, v, e_)) return false;
    out = v != 0;
    return true;
  }
  bool message(WireReader& r, unsigned wt, const unsigned char*& end) {
    return expect_wire_type(wt, kLengthDelimited, e_) && enter_message(r, 0, end, e_);
  }

  // Occurrences of a Struct field accumulate in its draft; the span's end
  // orders them once.
  bool content(WireReader& r, unsigned wt, std::optional<StructContent>& c, StructDraft& draft) {
    const unsigned char* end;
    if (!message(r, wt, end)) return false;
    if (!c) c.emplace();
    return decode_struct_body(r, end, 1, draft, arena_, e_) && leave_message(r, end, e_);
  }

  bool schema(WireReader& r, unsigned wt, std::optional<JsonSchema>& s) {
    const unsigned char* end;
    if (!message(r, wt, end)) return false;
    if (!s) s.emplace();
    return decode_schema_body(r, end, 1, *s, arena_, e_) && leave_message(r, end, e_);
  }

  // A message of two fields (SpanStatus, Timestamp, Duration), merged into
  // `out`: `read(field, t)` reads field 1 or 2 of wire type `t` and returns
  // false on failure; other fields are skipped.
  template <class T, class Read>
  bool two_field_message(WireReader& r, unsigned wt, std::optional<T>& out, Read&& read) {
    const unsigned char* end;
    if (!message(r, wt, end)) return false;
    if (!out) out.emplace();
    while (r.p < end) {
      std::uint32_t field;
      unsigned t;
      if (!read_key(r, field, t, e_)) return false;
      if (field == 1 || field == 2) {
        if (!read(field, t)) return false;
      } else if (!skip_field(r, field, t, 1, e_)) {
        return false;
      }
    }
    return leave_message(r, end, e_);
  }

  bool status(WireReader& r, unsigned wt, std::optional<SpanStatus>& s) {
    return two_field_message(r, wt, s, [&](std::uint32_t field, unsigned t) {
      if (field == 1) return int32(r, t, s->code) || within("SpanStatus", "code");
      return string(r, t, s->message) || within("SpanStatus", "message");
    });
  }

  template <class T>
  bool time(WireReader& r, unsigned wt, std::optional<T>& out, const char* message_name) {
    return two_field_message(r, wt, out, [&](std::uint32_t field, unsigned t) {
      if (field == 2) return int32(r, t, out->nanos) || within(message_name, "nanos");
      std::uint64_t v;
      if (!expect_wire_type(t, kVarint, e_) || !read_varint(r, v, e_)) return within(message_name, "seconds");
      out->seconds = static_cast<std::int64_t>(v);
      return true;
    });
  }

  bool optional_string(WireReader& r, unsigned wt, std::optional<std::string_view>& out) {
    std::string_view v;
    if (!string(r, wt, v)) return false;
    out = v;
    return true;
  }

  bool within(const char* message_name, const char* field) {
    e_.within(message_name, field);
    return false;
  }

  // One field of each kind, chosen by its type; `number` names the field's
  // Struct draft.
  bool field(WireReader& r, unsigned wt, std::string_view& out, std::uint32_t) { return string(r, wt, out); }
  bool field(WireReader& r, unsigned wt, std::int32_t& out, std::uint32_t) { return int32(r, wt, out); }
  bool field(WireReader& r, unsigned wt, bool& out, std::uint32_t) { return flag(r, wt, out); }
  bool field(WireReader& r, unsigned wt, std::optional<std::string_view>& out, std::uint32_t) {
    return optional_string(r, wt, out);
  }
  bool field(WireReader& r, unsigned wt, std::optional<StructContent>& c, std::uint32_t number) {
    return content(r, wt, c, drafts_[number]);
  }
  bool field(WireReader& r, unsigned wt, std::optional<JsonSchema>& s, std::uint32_t) {
    return schema(r, wt, s);
  }
  bool field(WireReader& r, unsigned wt, std::optional<SpanStatus>& s, std::uint32_t) {
    return status(r, wt, s);
  }
  bool field(WireReader& r, unsigned wt, std::optional<Timestamp>& t, std::uint32_t) {
    return time(r, wt, t, "Timestamp");
  }
  bool field(WireReader& r, unsigned wt, std::optional<Duration>& d, std::uint32_t) {
    return time(r, wt, d, "Duration");
  }

  // After the last field: Struct fields merge their occurrences, schemas
  // order their properties.
  template <class T>
  void finish(T&, std::uint32_t) {}
  void finish(std::optional<StructContent>& c, std::uint32_t number) {
    if (c) c->records = finish_struct(drafts_[number]);
  }
  void finish(std::optional<JsonSchema>& s, std::uint32_t) {
    if (s) finish_schema(*s);
  }

  // A known field, its failure placed in the path as Span.<name>; unknown
  // fields are skipped.
  bool span_field(WireReader& r, std::uint32_t number, unsigned wt, Span& s) {
    switch (number) {
#define QUARN_SPAN_FIELD(n, member, kind) \
  case n: return field(r, wt, s.member, n) || within("Span", #member);
      QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
      default: return skip_field(r, number, wt, 0, e_);
    }
  }

  Arena& arena_;
  DecodeError& e_;
  StructDraft drafts_[kSpanFieldCount + 1];  // by field number, for the Struct fields
};

}  // namespace

Measured measure_span(const Span& span) {
  Measured m;
  m.total = measure_span_body(span, m.sizes);
  return m;
}

void write_span(const Span& span, const Measured& m, char* out) {
  const std::size_t* cursor = m.sizes.data();
  char* end = write_span_body(span, cursor, out);
  assert(static_cast<std::size_t>(end - out) == m.total);
  assert(cursor == m.sizes.data() + m.sizes.size());
  (void)end;
}

Measured measure_export_spans_request(const ExportSpansRequest& request) {
  const ExportSpansRequest& q = request;
  Measured m;
  std::size_t n = string_size(1, q.observable_service_id) + string_size(2, q.environment) +
                  string_size(3, q.sdk_version) + string_size(4, q.sdk_instance_id);
  for (const Span& s : q.spans) {
    const std::size_t slot = m.sizes.size();
    m.sizes.push_back(0);
    const std::size_t body = measure_span_body(s, m.sizes);
    m.sizes[slot] = body;
    n += delimited_size(ld(5), body);
  }
  m.total = n;
  return m;
}

void write_export_spans_request(const ExportSpansRequest& request, const Measured& m, char* out) {
  const ExportSpansRequest& q = request;
  const std::size_t* cursor = m.sizes.data();
  char* p = out;
  p = put_string(p, 1, q.observable_service_id);
  p = put_string(p, 2, q.environment);
  p = put_string(p, 3, q.sdk_version);
  p = put_string(p, 4, q.sdk_instance_id);
  for (const Span& s : q.spans) {
    p = write_varint(p, ld(5));
    p = write_varint(p, *cursor++);
    p = write_span_body(s, cursor, p);
  }
  assert(static_cast<std::size_t>(p - out) == m.total);
  assert(cursor == m.sizes.data() + m.sizes.size());
  (void)p;
}

Result<Span, DecodeError> decode_span(std::string_view bytes, Arena& arena) {
  WireReader r(bytes);
  DecodeError e;
  Span s;
  SpanDecoder d(arena, e);
  if (!d.span(r, s)) return e;
  return s;
}

}  // namespace quarn::proto
