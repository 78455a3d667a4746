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
char* put_optional_string(char* out, std::uint32_t field, const std::optional<std::string_view>& s) noexcept {
  if (!s) return out;
  out = write_varint(out, ld(field));
  out = write_varint(out, s->size());
  return write_bytes(out, *s);
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

// Timestamp and Duration bodies (seconds: field 1, nanos: field 2).
template <class T>
std::size_t time_body_size(const T& t) noexcept {
  return (t.seconds == 0 ? 0 : 1 + varint_size(static_cast<std::uint64_t>(t.seconds))) +
         int32_size(2, t.nanos);
}
template <class T>
char* put_time(char* out, std::uint32_t field, const std::optional<T>& t) noexcept {
  if (!t) return out;
  out = write_varint(out, ld(field));
  out = write_varint(out, time_body_size(*t));
  if (t->seconds != 0) {
    *out++ = static_cast<char>(vi(1));
    out = write_varint(out, static_cast<std::uint64_t>(t->seconds));
  }
  return put_int32(out, 2, t->nanos);
}

std::size_t status_body_size(const SpanStatus& s) noexcept {
  return int32_size(1, s.code) + string_size(2, s.message);
}

std::size_t measure_content(const StructContent& c, std::vector<std::size_t>& sizes) {
  if (c.canonical) return c.canonical->size();
  return c.json ? measure_json_struct(*c.json, sizes) : measure_struct(c.records, sizes);
}

// Body length of a Span; the nested bodies' lengths go to `sizes` in the
// order write_span_body consumes them.
std::size_t measure_span_body(const Span& s, std::vector<std::size_t>& sizes) {
  if (s.canonical_encoding) return s.canonical_encoding->size();
  std::size_t n = string_size(1, s.trace_id) + string_size(2, s.span_id) + string_size(3, s.parent_span_id) +
                  string_size(4, s.name) + string_size(5, s.package_name) +
                  string_size(6, s.instrumentation_name) + string_size(7, s.submodule_name) +
                  int32_size(8, s.package_type);
  if (s.input_value) n += delimited_size(ld(9), measure_content(*s.input_value, sizes));
  if (s.output_value) n += delimited_size(ld(10), measure_content(*s.output_value, sizes));
  if (s.input_schema) n += delimited_size(ld(11), measure_schema(*s.input_schema, sizes));
  if (s.output_schema) n += delimited_size(ld(12), measure_schema(*s.output_schema, sizes));
  n += string_size(13, s.input_schema_hash) + string_size(14, s.output_schema_hash) +
       string_size(15, s.input_value_hash) + string_size(16, s.output_value_hash) + int32_size(17, s.kind);
  if (s.status) n += delimited_size(ld(18), status_body_size(*s.status));
  n += flag_size(19, s.is_pre_app_start);
  if (s.timestamp) n += delimited_size(ld(20), time_body_size(*s.timestamp));
  if (s.duration) n += delimited_size(ld(21), time_body_size(*s.duration));
  n += flag_size(22, s.is_root_span);
  if (s.metadata) n += delimited_size(ld(23), measure_content(*s.metadata, sizes));
  if (s.environment) n += delimited_size(ld(24), s.environment->size());
  if (s.id) n += delimited_size(ld(25), s.id->size());
  return n;
}

char* put_content(char* out, std::uint32_t field, const std::optional<StructContent>& c,
                  const std::size_t*& cursor) {
  if (!c) return out;
  out = write_varint(out, ld(field));
  if (c->canonical) {
    out = write_varint(out, c->canonical->size());
    return write_bytes(out, *c->canonical);
  }
  out = write_varint(out, *cursor);
  return c->json ? write_json_struct(*c->json, cursor, out) : write_struct(c->records, cursor, out);
}

char* put_schema(char* out, std::uint32_t field, const std::optional<JsonSchema>& s,
                 const std::size_t*& cursor) {
  if (!s) return out;
  out = write_varint(out, ld(field));
  out = write_varint(out, *cursor);
  return write_schema(*s, cursor, out);
}

char* write_span_body(const Span& s, const std::size_t*& cursor, char* out) {
  if (s.canonical_encoding) return write_bytes(out, *s.canonical_encoding);
  out = put_string(out, 1, s.trace_id);
  out = put_string(out, 2, s.span_id);
  out = put_string(out, 3, s.parent_span_id);
  out = put_string(out, 4, s.name);
  out = put_string(out, 5, s.package_name);
  out = put_string(out, 6, s.instrumentation_name);
  out = put_string(out, 7, s.submodule_name);
  out = put_int32(out, 8, s.package_type);
  out = put_content(out, 9, s.input_value, cursor);
  out = put_content(out, 10, s.output_value, cursor);
  out = put_schema(out, 11, s.input_schema, cursor);
  out = put_schema(out, 12, s.output_schema, cursor);
  out = put_string(out, 13, s.input_schema_hash);
  out = put_string(out, 14, s.output_schema_hash);
  out = put_string(out, 15, s.input_value_hash);
  out = put_string(out, 16, s.output_value_hash);
  out = put_int32(out, 17, s.kind);
  if (s.status) {
    out = write_varint(out, ld(18));
    out = write_varint(out, status_body_size(*s.status));
    out = put_int32(out, 1, s.status->code);
    out = put_string(out, 2, s.status->message);
  }
  out = put_flag(out, 19, s.is_pre_app_start);
  out = put_time(out, 20, s.timestamp);
  out = put_time(out, 21, s.duration);
  out = put_flag(out, 22, s.is_root_span);
  out = put_content(out, 23, s.metadata, cursor);
  out = put_optional_string(out, 24, s.environment);
  out = put_optional_string(out, 25, s.id);
  return out;
}

// ---- decoding ----------------------------------------------------------------

constexpr const char* kSpanFieldNames[26] = {
    "",
    "trace_id",
    "span_id",
    "parent_span_id",
    "name",
    "package_name",
    "instrumentation_name",
    "submodule_name",
    "package_type",
    "input_value",
    "output_value",
    "input_schema",
    "output_schema",
    "input_schema_hash",
    "output_schema_hash",
    "input_value_hash",
    "output_value_hash",
    "kind",
    "status",
    "is_pre_app_start",
    "timestamp",
    "duration",
    "is_root_span",
    "metadata",
    "environment",
    "id",
};

class SpanDecoder {
 public:
  SpanDecoder(Arena& arena, DecodeError& e) : arena_(arena), e_(e) {}

  bool span(WireReader& r, Span& s) {
    while (r.p < r.end) {
      std::uint32_t field;
      unsigned wt;
      if (!read_key(r, field, wt, e_)) return false;
      if (field > 25) {
        if (!skip_field(r, field, wt, 0, e_)) return false;
        continue;
      }
      if (!span_field(r, field, wt, s)) {
        e_.within("Span", kSpanFieldNames[field]);
        return false;
      }
    }
    if (s.input_value) s.input_value->records = finish_struct(input_value_);
    if (s.output_value) s.output_value->records = finish_struct(output_value_);
    if (s.metadata) s.metadata->records = finish_struct(metadata_);
    if (s.input_schema) finish_schema(*s.input_schema);
    if (s.output_schema) finish_schema(*s.output_schema);
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

  bool status(WireReader& r, unsigned wt, std::optional<SpanStatus>& s) {
    const unsigned char* end;
    if (!message(r, wt, end)) return false;
    if (!s) s.emplace();
    while (r.p < end) {
      std::uint32_t field;
      unsigned t;
      if (!read_key(r, field, t, e_)) return false;
      if (field == 1) {
        if (!int32(r, t, s->code)) return within("SpanStatus", "code");
      } else if (field == 2) {
        if (!string(r, t, s->message)) return within("SpanStatus", "message");
      } else if (!skip_field(r, field, t, 1, e_)) {
        return false;
      }
    }
    return leave_message(r, end, e_);
  }

  template <class T>
  bool time(WireReader& r, unsigned wt, std::optional<T>& out, const char* message_name) {
    const unsigned char* end;
    if (!message(r, wt, end)) return false;
    if (!out) out.emplace();
    while (r.p < end) {
      std::uint32_t field;
      unsigned t;
      if (!read_key(r, field, t, e_)) return false;
      if (field == 1) {
        std::uint64_t v;
        if (!expect_wire_type(t, kVarint, e_) || !read_varint(r, v, e_))
          return within(message_name, "seconds");
        out->seconds = static_cast<std::int64_t>(v);
      } else if (field == 2) {
        if (!int32(r, t, out->nanos)) return within(message_name, "nanos");
      } else if (!skip_field(r, field, t, 1, e_)) {
        return false;
      }
    }
    return leave_message(r, end, e_);
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

  bool span_field(WireReader& r, std::uint32_t field, unsigned wt, Span& s) {
    switch (field) {
      case 1: return string(r, wt, s.trace_id);
      case 2: return string(r, wt, s.span_id);
      case 3: return string(r, wt, s.parent_span_id);
      case 4: return string(r, wt, s.name);
      case 5: return string(r, wt, s.package_name);
      case 6: return string(r, wt, s.instrumentation_name);
      case 7: return string(r, wt, s.submodule_name);
      case 8: return int32(r, wt, s.package_type);
      case 9: return content(r, wt, s.input_value, input_value_);
      case 10: return content(r, wt, s.output_value, output_value_);
      case 11: return schema(r, wt, s.input_schema);
      case 12: return schema(r, wt, s.output_schema);
      case 13: return string(r, wt, s.input_schema_hash);
      case 14: return string(r, wt, s.output_schema_hash);
      case 15: return string(r, wt, s.input_value_hash);
      case 16: return string(r, wt, s.output_value_hash);
      case 17: return int32(r, wt, s.kind);
      case 18: return status(r, wt, s.status);
      case 19: return flag(r, wt, s.is_pre_app_start);
      case 20: return time(r, wt, s.timestamp, "Timestamp");
      case 21: return time(r, wt, s.duration, "Duration");
      case 22: return flag(r, wt, s.is_root_span);
      case 23: return content(r, wt, s.metadata, metadata_);
      case 24: return optional_string(r, wt, s.environment);
      default: return optional_string(r, wt, s.id);
    }
  }

  Arena& arena_;
  DecodeError& e_;
  StructDraft input_value_, output_value_, metadata_;
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
