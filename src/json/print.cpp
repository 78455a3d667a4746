#include "json/print.h"

#include <cmath>
#include <cstring>

#include "json/number.h"
#include "json/parse.h"
#include "json/scan.h"

namespace quarn::json {

namespace {

// Escape text for bytes below 20 (hex): two characters for the named escapes,
// six for the rest.
struct Escape {
  char text[6];
  unsigned char size;
};

constexpr Escape make_escape(unsigned c) {
  Escape e{{'\\', 'u', '0', '0', '0', '0'}, 6};
  switch (c) {
    case '\b': return Escape{{'\\', 'b'}, 2};
    case '\t': return Escape{{'\\', 't'}, 2};
    case '\n': return Escape{{'\\', 'n'}, 2};
    case '\f': return Escape{{'\\', 'f'}, 2};
    case '\r': return Escape{{'\\', 'r'}, 2};
    case '"': return Escape{{'\\', '"'}, 2};
    case '\\': return Escape{{'\\', '\\'}, 2};
    default: break;
  }
  const char* hex = "0123456789abcdef";
  e.text[4] = hex[(c >> 4) & 0xF];
  e.text[5] = hex[c & 0xF];
  return e;
}

struct EscapeTable {
  Escape low[0x20];
  Escape quote;
  Escape backslash;
};

constexpr EscapeTable make_table() {
  EscapeTable t{};
  for (unsigned c = 0; c < 0x20; ++c) t.low[c] = make_escape(c);
  t.quote = make_escape('"');
  t.backslash = make_escape('\\');
  return t;
}

constexpr EscapeTable kEscapes = make_table();

inline const Escape& escape_for(unsigned char c) {
  if (c == '"') return kEscapes.quote;
  if (c == '\\') return kEscapes.backslash;
  return kEscapes.low[c];
}

void print_uint(std::uint64_t u, Buffer& out) {
  char* p = out.prepare(20);
  out.commit(write_uint(u, p));
}

// A negative integer (the only kind Kind::Int holds).
void print_int(std::int64_t i, Buffer& out) {
  char* p = out.prepare(21);
  *p = '-';
  out.commit(1 + write_uint(0 - static_cast<std::uint64_t>(i), p + 1));
}

}  // namespace

namespace {

// A string with nothing to escape: one copy between the quotes.
QUARN_ALWAYS_INLINE void print_plain_string(std::string_view s, Buffer& out) {
  const std::size_t n = s.size();
  char* w = out.prepare(n + 2);
  w[0] = '"';
  detail::copy_bytes(w + 1, s.data(), n);
  w[n + 1] = '"';
  out.commit(n + 2);
}

}  // namespace

void print_string(std::string_view s, Buffer& out) {
  const char* p = s.data();
  const char* end = p + s.size();
  const char* q0 = detail::scan_string_run(p, end);
  if (q0 == end) [[likely]] {
    print_plain_string(s, out);
    return;
  }
  out.push_back('"');
  out.append(p, static_cast<std::size_t>(q0 - p));
  {
    const Escape& e = escape_for(static_cast<unsigned char>(*q0));
    out.append(e.text, e.size);
    p = q0 + 1;
  }
  for (;;) {
    const char* q = detail::scan_string_run(p, end);
    out.append(p, static_cast<std::size_t>(q - p));
    if (q == end) break;
    const Escape& e = escape_for(static_cast<unsigned char>(*q));
    out.append(e.text, e.size);
    p = q + 1;
  }
  out.push_back('"');
}

namespace {

// The printer. With `Normalize`, every double is printed as it reads back from
// its own canonical text (the result of printing and parsing once more), and
// `ok` turns false where that read-back would fail.
template <bool Normalize>
struct Printer {
  Buffer& out;
  bool ok = true;
  bool moved = false;  // some double read back as another one

  void dbl(const JsonValue& v) {
    const double d = v.as_double();
    char* p = out.prepare(kMaxDoubleText);
    if (d == 0.0 || !std::isfinite(d)) [[unlikely]] {
      out.commit(format_double(d, p));
      return;
    }
    const std::uint64_t known = v.double_digits();
    ShortestDigits sd = known != 0 ? digits_from(known, v.double_k()) : shortest_digits(d);
    if constexpr (Normalize) {
      double back;
      if (!reparse_digits(sd, d, back)) {
        ok = false;
        return;
      }
      if (back != d) {
        moved = true;
        if (back == 0.0) {
          out.commit(format_double(back, p));
          return;
        }
        sd = shortest_digits(back);
      }
    }
    out.commit(format_digits(sd, std::signbit(d), p));
  }

  void value(const JsonValue& v, int depth) {
    switch (v.kind()) {
      case Kind::Null: out.append("null", 4); return;
      case Kind::Bool:
        if (v.as_bool()) out.append("true", 4);
        else out.append("false", 5);
        return;
      case Kind::UInt: print_uint(v.as_uint(), out); return;
      case Kind::Int: print_int(v.as_int(), out); return;
      case Kind::Double: dbl(v); return;
      case Kind::String:
        // A plain string was found free of escapes when it was read.
        if (v.is_plain()) print_plain_string(v.as_string(), out);
        else print_string(v.as_string(), out);
        return;
      case Kind::Array: {
        if (Normalize && depth >= kMaxDepth) {
          ok = false;
          return;
        }
        out.push_back('[');
        bool first = true;
        for (const JsonValue& e : v.elements()) {
          if (!first) out.push_back(',');
          first = false;
          value(e, depth + 1);
        }
        out.push_back(']');
        return;
      }
      case Kind::Object: {
        if (Normalize && depth >= kMaxDepth) {
          ok = false;
          return;
        }
        out.push_back('{');
        const bool names_plain = v.is_plain();
        bool first = true;
        for (const JsonMember& m : v.members()) {
          if (!first) out.push_back(',');
          first = false;
          if (names_plain) print_plain_string(m.name, out);
          else print_string(m.name, out);
          out.push_back(':');
          value(m.value, depth + 1);
        }
        out.push_back('}');
        return;
      }
    }
  }
};

}  // namespace

bool prints_plain(std::string_view s) noexcept {
  const char* end = s.data() + s.size();
  return detail::scan_string_run(s.data(), end) == end;
}

void print_json(const JsonValue& v, Buffer& out) {
  Printer<false> p{out};
  p.value(v, 0);
}

bool print_json_normalized(const JsonValue& v, Buffer& out, bool* moved) {
  Printer<true> p{out};
  p.value(v, 0);
  if (moved != nullptr) *moved = p.moved;
  return p.ok;
}

}  // namespace quarn::json
