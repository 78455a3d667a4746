#include "proto/struct.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "json/canonical.h"

namespace quarn::proto {

namespace {

using json::JsonValue;

// ---- one encoder for two kinds of nodes -------------------------------------
//
// The encoder walks either decoded records (Struct / Value / ListValue) or JSON
// values, which map onto them one to one. `measure_*` computes body lengths and
// records the length of every Struct and ListValue body in pre-order; `write_*`
// consumes the recorded lengths in the same order.

struct RecordNodes {
  using ValueNode = Value;
  using StructNode = Struct;
  using ListNode = ListValue;
  static Value::Kind kind(const Value& v) noexcept { return v.kind; }
  static std::int32_t null_value(const Value& v) noexcept { return v.null_value; }
  static double number(const Value& v) noexcept { return v.number_value; }
  static bool boolean(const Value& v) noexcept { return v.bool_value; }
  static std::string_view string(const Value& v) noexcept { return v.string(); }
  static const Struct& structure(const Value& v) noexcept { return v.struct_value; }
  static const ListValue& list(const Value& v) noexcept { return v.list_value; }
  template <class F>
  static void each_field(const Struct& s, F&& f) {
    for (const StructField& fl : s.fields()) f(fl.key, fl.value);
  }
  template <class F>
  static void each_element(const ListValue& l, F&& f) {
    for (const Value& v : l.values()) f(v);
  }
};

struct JsonNodes {
  using ValueNode = JsonValue;
  using StructNode = JsonValue;
  using ListNode = JsonValue;
  static Value::Kind kind(const JsonValue& v) noexcept {
    switch (v.kind()) {
      case json::Kind::Null: return Value::Kind::Null;
      case json::Kind::Bool: return Value::Kind::Bool;
      case json::Kind::String: return Value::Kind::String;
      case json::Kind::Array: return Value::Kind::List;
      case json::Kind::Object: return Value::Kind::Struct;
      default: return Value::Kind::Number;
    }
  }
  static std::int32_t null_value(const JsonValue&) noexcept { return 0; }
  static double number(const JsonValue& v) noexcept { return v.to_double(); }
  static bool boolean(const JsonValue& v) noexcept { return v.as_bool(); }
  static std::string_view string(const JsonValue& v) noexcept { return v.as_string(); }
  static const JsonValue& structure(const JsonValue& v) noexcept { return v; }
  static const JsonValue& list(const JsonValue& v) noexcept { return v; }
  template <class F>
  static void each_field(const JsonValue& s, F&& f) {
    for (const json::JsonMember& m : s.members()) f(m.name, m.value);
  }
  template <class F>
  static void each_element(const JsonValue& l, F&& f) {
    for (const JsonValue& v : l.elements()) f(v);
  }
};

constexpr char kFieldsKey = 0x0A;  // Struct.fields, map entry key, ListValue.values
constexpr char kEntryValueKey = 0x12;

template <class N>
std::size_t measure_struct_t(const typename N::StructNode& s, std::vector<std::size_t>& sizes);

// Body length of a value of a kind other than Struct and List.
template <class N>
std::size_t scalar_size(const typename N::ValueNode& v) {
  switch (N::kind(v)) {
    case Value::Kind::Null: return 1 + varint_size(int32_wire(N::null_value(v)));
    case Value::Kind::Number: return 9;
    case Value::Kind::String: return delimited_size(0x1A, N::string(v).size());
    case Value::Kind::Bool: return 2;
    default: return 0;
  }
}

// Body length of a value whose nested lengths (if any) start at `cursor`.
template <class N>
std::size_t value_size(const typename N::ValueNode& v, const std::size_t* cursor) {
  switch (N::kind(v)) {
    case Value::Kind::Struct: return delimited_size(0x2A, *cursor);
    case Value::Kind::List: return delimited_size(0x32, *cursor);
    default: return scalar_size<N>(v);
  }
}

template <class N>
std::size_t measure_value(const typename N::ValueNode& v, std::vector<std::size_t>& sizes) {
  switch (N::kind(v)) {
    case Value::Kind::Struct: return delimited_size(0x2A, measure_struct_t<N>(N::structure(v), sizes));
    case Value::Kind::List: {
      std::size_t slot = sizes.size();
      sizes.push_back(0);
      std::size_t total = 0;
      N::each_element(N::list(v), [&](const typename N::ValueNode& e) {
        total += delimited_size(kFieldsKey, measure_value<N>(e, sizes));
      });
      sizes[slot] = total;
      return delimited_size(0x32, total);
    }
    default: return scalar_size<N>(v);
  }
}

template <class N>
std::size_t measure_struct_t(const typename N::StructNode& s, std::vector<std::size_t>& sizes) {
  std::size_t slot = sizes.size();
  sizes.push_back(0);
  std::size_t total = 0;
  N::each_field(s, [&](std::string_view key, const typename N::ValueNode& v) {
    std::size_t entry = key.empty() ? 0 : delimited_size(kFieldsKey, key.size());
    if (N::kind(v) != Value::Kind::None) entry += delimited_size(kEntryValueKey, measure_value<N>(v, sizes));
    total += delimited_size(kFieldsKey, entry);
  });
  sizes[slot] = total;
  return total;
}

template <class N>
char* write_struct_t(const typename N::StructNode& s, const std::size_t*& cursor, char* out);

template <class N>
char* write_value(const typename N::ValueNode& v, const std::size_t*& cursor, char* out) {
  switch (N::kind(v)) {
    case Value::Kind::None: return out;
    case Value::Kind::Null: *out++ = 0x08; return write_varint(out, int32_wire(N::null_value(v)));
    case Value::Kind::Number: *out++ = 0x11; return write_fixed64(out, N::number(v));
    case Value::Kind::String: {
      std::string_view s = N::string(v);
      *out++ = 0x1A;
      out = write_varint(out, s.size());
      return write_bytes(out, s);
    }
    case Value::Kind::Bool:
      *out++ = 0x20;
      *out++ = N::boolean(v) ? 1 : 0;
      return out;
    case Value::Kind::Struct:
      *out++ = 0x2A;
      out = write_varint(out, *cursor);
      return write_struct_t<N>(N::structure(v), cursor, out);
    case Value::Kind::List: {
      *out++ = 0x32;
      out = write_varint(out, *cursor++);
      N::each_element(N::list(v), [&](const typename N::ValueNode& e) {
        *out++ = kFieldsKey;
        out = write_varint(out, value_size<N>(e, cursor));
        out = write_value<N>(e, cursor, out);
      });
      return out;
    }
  }
  return out;
}

template <class N>
char* write_struct_t(const typename N::StructNode& s, const std::size_t*& cursor, char* out) {
  ++cursor;  // this body's own length, written by the caller
  N::each_field(s, [&](std::string_view key, const typename N::ValueNode& v) {
    bool has_value = N::kind(v) != Value::Kind::None;
    std::size_t vsize = has_value ? value_size<N>(v, cursor) : 0;
    std::size_t entry = (key.empty() ? 0 : delimited_size(kFieldsKey, key.size())) +
                        (has_value ? delimited_size(kEntryValueKey, vsize) : 0);
    *out++ = kFieldsKey;
    out = write_varint(out, entry);
    if (!key.empty()) {
      *out++ = kFieldsKey;
      out = write_varint(out, key.size());
      out = write_bytes(out, key);
    }
    if (has_value) {
      *out++ = kEntryValueKey;
      out = write_varint(out, vsize);
      out = write_value<N>(v, cursor, out);
    }
  });
  return out;
}

// ---- decoding ------------------------------------------------------------------

// A ListValue being decoded from one or more bodies (repeated list_value
// occurrences in one Value extend it); grows like StructDraft.
struct ListDraft {
  Value* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;
};

// A Value while its message may still receive fields: its Struct or list
// kind is kept as a draft until the Value is complete.
struct OpenValue {
  Value v;
  StructDraft st;
  ListDraft list;
};

// Appends `n` items at `src` to the draft array (`data`, `size`, `capacity`):
// the first batch is stored at its exact size, later ones grow the array
// geometrically, so appends cost amortised constant time per item.
template <class T>
void append_items(Arena& arena, T*& data, std::size_t& size, std::size_t& capacity, const T* src,
                  std::size_t n) {
  if (n == 0) return;
  if (size + n > capacity) {
    std::size_t cap = size == 0 ? n : std::max(size + n, 2 * capacity);
    T* grown = arena.allocate_array<T>(cap);
    if (size != 0) std::memcpy(static_cast<void*>(grown), data, size * sizeof(T));
    data = grown;
    capacity = cap;
  }
  std::memcpy(static_cast<void*>(data + size), src, n * sizeof(T));
  size += n;
}

class Decoder {
 public:
  Decoder(Arena& arena, DecodeError& e) : arena_(arena), e_(e) {}

  bool struct_body(WireReader& r, const unsigned char* end, int level, StructDraft& st) {
    const std::size_t base = fields_.size();
    const bool ok = each_message_of_field_1(r, end, level, "Struct", "fields", [&] {
      StructField f;
      if (!entry(r, level, f)) return false;
      fields_.push_back(f);
      return true;
    });
    if (!ok) return false;
    append_fields(st, base);
    return true;
  }

 private:
  // The body of a Struct or ListValue up to `end` at `level`: `read()` reads
  // the message of each occurrence of field 1 (the only one either has) and
  // returns false on failure; other fields are skipped. A failure inside one
  // is reported within `message`.`field`.
  template <class Read>
  bool each_message_of_field_1(WireReader& r, const unsigned char* end, int level, const char* message,
                               const char* field_name, Read&& read) {
    while (r.p < end) {
      std::uint32_t field;
      unsigned wt;
      if (!read_key(r, field, wt, e_)) return false;
      if (field == 1) {
        if (!expect_wire_type(wt, kLengthDelimited, e_) || !read()) {
          e_.within(message, field_name);
          return false;
        }
      } else if (!skip_field(r, field, wt, level, e_)) {
        return false;
      }
    }
    return true;
  }

  // A map entry of a Struct at `level`.
  bool entry(WireReader& r, int level, StructField& out) {
    const unsigned char* end;
    if (!enter_message(r, level, end, e_)) return false;
    out.key = std::string_view();
    OpenValue value_draft;
    while (r.p < end) {
      std::uint32_t field;
      unsigned wt;
      if (!read_key(r, field, wt, e_)) return false;
      if (field == 1) {
        if (!expect_wire_type(wt, kLengthDelimited, e_) || !read_string(r, out.key, e_)) return false;
      } else if (field == 2) {
        if (!expect_wire_type(wt, kLengthDelimited, e_) || !value(r, level + 1, value_draft)) return false;
      } else if (!skip_field(r, field, wt, level + 1, e_)) {
        return false;
      }
    }
    if (!leave_message(r, end, e_)) return false;
    out.value = close(value_draft);
    return true;
  }

  // A Value message inside a container at `level`, merged into `v`.
  bool value(WireReader& r, int level, OpenValue& v) {
    const unsigned char* end;
    if (!enter_message(r, level, end, e_)) return false;
    const int here = level + 1;
    while (r.p < end) {
      std::uint32_t field;
      unsigned wt;
      if (!read_key(r, field, wt, e_)) return false;
      if (field < 1 || field > 6) {
        if (!skip_field(r, field, wt, here, e_)) return false;
        continue;
      }
      if (!value_field(r, field, wt, here, v)) {
        e_.within("Value", "kind");
        return false;
      }
    }
    return leave_message(r, end, e_);
  }

  bool value_field(WireReader& r, std::uint32_t field, unsigned wt, int here, OpenValue& ov) {
    Value& v = ov.v;
    switch (field) {
      case 1: {
        std::uint64_t x;
        if (!expect_wire_type(wt, kVarint, e_) || !read_varint(r, x, e_)) return false;
        v.kind = Value::Kind::Null;
        v.null_value = static_cast<std::int32_t>(static_cast<std::uint32_t>(x));
        return true;
      }
      case 2: {
        double d;
        if (!expect_wire_type(wt, kSixtyFourBit, e_) || !read_fixed64(r, d, e_)) return false;
        v.kind = Value::Kind::Number;
        v.number_value = d;
        return true;
      }
      case 3: {
        std::string_view s;
        if (!expect_wire_type(wt, kLengthDelimited, e_) || !read_string(r, s, e_)) return false;
        v.kind = Value::Kind::String;
        v.string_value = {s.data(), s.size()};
        return true;
      }
      case 4: {
        std::uint64_t x;
        if (!expect_wire_type(wt, kVarint, e_) || !read_varint(r, x, e_)) return false;
        v.kind = Value::Kind::Bool;
        v.bool_value = x != 0;
        return true;
      }
      case 5: return container_value(r, wt, here, v, Value::Kind::Struct, ov.st, &Decoder::struct_body);
      default: return container_value(r, wt, here, v, Value::Kind::List, ov.list, &Decoder::list_body);
    }
  }

  // A Struct or ListValue message of a Value at `here`, merged by `body` into
  // `draft`; a Value that held another kind starts with an empty draft.
  template <class Draft>
  bool container_value(WireReader& r, unsigned wt, int here, Value& v, Value::Kind kind, Draft& draft,
                       bool (Decoder::*body)(WireReader&, const unsigned char*, int, Draft&)) {
    const unsigned char* end;
    if (!expect_wire_type(wt, kLengthDelimited, e_) || !enter_message(r, here, end, e_)) return false;
    if (v.kind != kind) {
      v.kind = kind;
      draft = Draft{};
    }
    return (this->*body)(r, end, here + 1, draft) && leave_message(r, end, e_);
  }

  bool list_body(WireReader& r, const unsigned char* end, int level, ListDraft& list) {
    const std::size_t base = values_.size();
    const bool ok = each_message_of_field_1(r, end, level, "ListValue", "values", [&] {
      OpenValue v;
      if (!value(r, level, v)) return false;
      values_.push_back(close(v));
      return true;
    });
    if (!ok) return false;
    // Repeated fields extend what an earlier occurrence of the list held.
    append_items(arena_, list.data, list.size, list.capacity, values_.data() + base, values_.size() - base);
    values_.resize(base);
    return true;
  }

  // The Value once its message is complete.
  static Value close(OpenValue& ov) {
    Value v = ov.v;
    if (v.kind == Value::Kind::Struct) v.struct_value = finish_struct(ov.st);
    else if (v.kind == Value::Kind::List) v.list_value = ListValue{ov.list.data, ov.list.size};
    return v;
  }

  // Appends the entries read since `base` to `st`, noting whether the keys
  // are still strictly ascending.
  void append_fields(StructDraft& st, std::size_t base) {
    const std::size_t added = fields_.size() - base;
    if (added == 0) return;
    const StructField* batch = fields_.data() + base;
    if (st.ordered) {
      if (st.size != 0 && !(st.data[st.size - 1].key < batch[0].key)) st.ordered = false;
      for (std::size_t i = 1; st.ordered && i < added; ++i)
        if (!(batch[i - 1].key < batch[i].key)) st.ordered = false;
    }
    append_items(arena_, st.data, st.size, st.capacity, batch, added);
    fields_.resize(base);
  }

  Arena& arena_;
  DecodeError& e_;
  std::vector<StructField> fields_;
  std::vector<Value> values_;
};

}  // namespace

Value json_to_protobuf_value(const json::JsonValue& v, Arena& arena) {
  Value out;
  switch (v.kind()) {
    case json::Kind::Null:
      out.kind = Value::Kind::Null;
      out.null_value = 0;
      break;
    case json::Kind::Bool:
      out.kind = Value::Kind::Bool;
      out.bool_value = v.as_bool();
      break;
    case json::Kind::UInt:
    case json::Kind::Int:
    case json::Kind::Double:
      out.kind = Value::Kind::Number;
      out.number_value = v.to_double();
      break;
    case json::Kind::String:
      out.kind = Value::Kind::String;
      out.string_value = {v.as_string().data(), v.size()};
      break;
    case json::Kind::Array: {
      Value* elems = arena.allocate_array<Value>(v.size());
      std::size_t i = 0;
      for (const json::JsonValue& e : v.elements()) elems[i++] = json_to_protobuf_value(e, arena);
      out.kind = Value::Kind::List;
      out.list_value = ListValue{elems, v.size()};
      break;
    }
    case json::Kind::Object:
      out.kind = Value::Kind::Struct;
      out.struct_value = json_to_protobuf_struct(v, arena);
      break;
  }
  return out;
}

Struct json_to_protobuf_struct(const json::JsonValue& v, Arena& arena) {
  if (!v.is_object() || v.size() == 0) return Struct{};
  StructField* fields = arena.allocate_array<StructField>(v.size());
  std::size_t i = 0;
  for (const json::JsonMember& m : v.members()) {
    fields[i].key = m.name;
    fields[i].value = json_to_protobuf_value(m.value, arena);
    ++i;
  }
  return Struct{fields, v.size()};
}

std::size_t measure_struct(const Struct& st, std::vector<std::size_t>& sizes) {
  return measure_struct_t<RecordNodes>(st, sizes);
}
char* write_struct(const Struct& st, const std::size_t*& cursor, char* out) {
  return write_struct_t<RecordNodes>(st, cursor, out);
}

std::size_t measure_json_struct(const json::JsonValue& object, std::vector<std::size_t>& sizes) {
  if (!object.is_object()) {
    sizes.push_back(0);
    return 0;
  }
  return measure_struct_t<JsonNodes>(object, sizes);
}
char* write_json_struct(const json::JsonValue& object, const std::size_t*& cursor, char* out) {
  if (!object.is_object()) {
    ++cursor;
    return out;
  }
  return write_struct_t<JsonNodes>(object, cursor, out);
}
bool decode_struct_body(WireReader& r, const unsigned char* body_end, int level, StructDraft& draft,
                        Arena& arena, DecodeError& e) {
  Decoder d(arena, e);
  return d.struct_body(r, body_end, level, draft);
}

Struct finish_struct(StructDraft& d) {
  if (!d.ordered) {
    auto less = [](const StructField& a, const StructField& b) { return a.key < b.key; };
    std::stable_sort(d.data, d.data + d.size, less);
    std::size_t w = 0;
    for (std::size_t i = 0; i < d.size; ++i) {
      if (i + 1 < d.size && d.data[i + 1].key == d.data[i].key) continue;  // a later entry wins
      d.data[w++] = d.data[i];
    }
    d.size = w;
    d.ordered = true;
  }
  return Struct{d.data, d.size};
}

Result<Struct, DecodeError> decode_protobuf_struct(std::string_view bytes, Arena& arena) {
  WireReader r(bytes);
  DecodeError e;
  StructDraft draft;
  if (!decode_struct_body(r, r.end, 0, draft, arena, e)) return e;
  return finish_struct(draft);
}

Result<std::uint32_t> object_to_protobuf_struct_field_count(std::string_view payload_json) {
  Arena arena(payload_json.size() + 256);
  Result<json::JsonValue> v = json::parse_normalized(payload_json, arena);
  if (!v) return std::move(v).error();
  return static_cast<std::uint32_t>(v->is_object() ? v->size() : 0);
}

}  // namespace quarn::proto
