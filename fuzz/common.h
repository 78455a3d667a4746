// Shared pieces of the fuzz targets: a fatal check, and small reference
// implementations written straight from the rules of the format (number
// conversion and layout, UTF-8 validation and lossy decoding, Base64), kept
// deliberately simple so that they share no code or shortcut with the module.
// SHA-256 is the module's portable path, which its own checks compare with
// Python's hashlib and every hardware path with.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffer.h"
#include "base/sha256.h"
#include "base/sha256_paths.h"
#include "json/value.h"

// A failed check ends the process: libFuzzer records the input as a crash.
#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

namespace fuzzref {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

inline bool same_bits(double a, double b) {
  std::uint64_t x, y;
  std::memcpy(&x, &a, 8);
  std::memcpy(&y, &b, 8);
  return x == y;
}

// SHA-256 in lower-case hex by the portable path, whatever path the CPU's dispatch chose.
inline std::string sha256_hex(std::string_view bytes) {
  quarn::Sha256 h(&quarn::sha256::compress_portable);
  h.update(bytes.data(), bytes.size());
  return std::string(quarn::as_view(h.finish()));
}

// ---- UTF-8 ------------------------------------------------------------------

// Length of the well-formed sequence at p[0..n), or the number of bytes that
// belong to its maximal ill-formed subpart as a negative number (at least -1).
inline int utf8_sequence(const unsigned char* p, std::size_t n) {
  unsigned char b = p[0];
  if (b < 0x80) return 1;
  int len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) len = 2;
  else if (b == 0xE0) len = 3, lo = 0xA0;
  else if (b >= 0xE1 && b <= 0xEC) len = 3;
  else if (b == 0xED) len = 3, hi = 0x9F;
  else if (b >= 0xEE && b <= 0xEF) len = 3;
  else if (b == 0xF0) len = 4, lo = 0x90;
  else if (b >= 0xF1 && b <= 0xF3) len = 4;
  else if (b == 0xF4) len = 4, hi = 0x8F;
  else return -1;
  for (int i = 1; i < len; ++i) {
    if (static_cast<std::size_t>(i) >= n) return -i;
    unsigned char c = p[i];
    unsigned char l = i == 1 ? lo : 0x80, h = i == 1 ? hi : 0xBF;
    if (c < l || c > h) return -i;
  }
  return len;
}

inline std::size_t utf8_valid_prefix(std::string_view s) {
  auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t i = 0;
  while (i < s.size()) {
    int r = utf8_sequence(p + i, s.size() - i);
    if (r < 0) break;
    i += static_cast<std::size_t>(r);
  }
  return i;
}

inline bool utf8_valid(std::string_view s) { return utf8_valid_prefix(s) == s.size(); }

// Substitution of maximal subparts: each ill-formed subpart becomes U+FFFD.
inline std::string utf8_lossy(std::string_view s) {
  auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    int r = utf8_sequence(p + i, s.size() - i);
    if (r > 0) {
      out.append(s.substr(i, static_cast<std::size_t>(r)));
      i += static_cast<std::size_t>(r);
    } else {
      out += "\xEF\xBF\xBD";
      i += static_cast<std::size_t>(-r);
    }
  }
  return out;
}

// ---- Base64 -----------------------------------------------------------------

inline int b64_symbol(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict decoding: whole groups of four, `=` only as canonical padding of the
// last group, zero unused bits.
inline std::optional<std::string> base64_decode(std::string_view t) {
  if (t.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t g = 0; g < t.size(); g += 4) {
    bool last = g + 4 == t.size();
    int pad = 0;
    if (last && t[g + 3] == '=') pad = t[g + 2] == '=' ? 2 : 1;
    int v[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4 - pad; ++i) {
      v[i] = b64_symbol(t[g + static_cast<std::size_t>(i)]);
      if (v[i] < 0) return std::nullopt;
    }
    std::uint32_t bits = (static_cast<std::uint32_t>(v[0]) << 18) | (static_cast<std::uint32_t>(v[1]) << 12) |
                         (static_cast<std::uint32_t>(v[2]) << 6) | static_cast<std::uint32_t>(v[3]);
    if (pad == 2 && (bits & 0xFFFF) != 0) return std::nullopt;
    if (pad == 1 && (bits & 0xFF) != 0) return std::nullopt;
    out += static_cast<char>(bits >> 16);
    if (pad < 2) out += static_cast<char>((bits >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(bits & 0xFF);
  }
  return out;
}

inline std::string base64_encode(std::string_view b) {
  static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= b.size(); i += 3) {
    std::uint32_t v = (static_cast<unsigned char>(b[i]) << 16) | (static_cast<unsigned char>(b[i + 1]) << 8) |
                      static_cast<unsigned char>(b[i + 2]);
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += a[(v >> 6) & 63];
    out += a[v & 63];
  }
  if (b.size() - i == 1) {
    std::uint32_t v = static_cast<unsigned char>(b[i]) << 16;
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += "==";
  } else if (b.size() - i == 2) {
    std::uint32_t v = (static_cast<unsigned char>(b[i]) << 16) | (static_cast<unsigned char>(b[i + 1]) << 8);
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += a[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

// ---- numbers ----------------------------------------------------------------

struct Number {
  enum Kind { UInt, Int, Double, OutOfRange, Invalid } kind = Invalid;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double d = 0;
  std::size_t length = 0;  // bytes of the longest number prefix read
};

// The double nearest to 10^i (glibc's strtod rounds correctly).
inline double pow10_nearest(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "1e%d", i);
  return std::strtod(buf, nullptr);
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the number at the start of `t` by the module's conversion rules: an
// unsigned 64-bit significand with refused digits dropped, a 32-bit exponent,
// then one IEEE multiplication or division by a power of ten per step.
inline Number read_number(std::string_view t) {
  Number r;
  std::size_t p = 0, n = t.size();
  bool neg = p < n && t[p] == '-';
  if (neg) ++p;
  if (p >= n || !is_digit(t[p])) return r;
  const std::uint64_t cap = 1844674407370955161ull;
  auto fits = [&](std::uint64_t s, int d) { return s < cap || (s == cap && d <= 5); };
  std::uint64_t S = 0;
  std::int64_t X = 0;
  bool dropped = false, integer = true;
  if (t[p] == '0') {
    ++p;
    if (p < n && is_digit(t[p])) return r;
  } else {
    for (; p < n && is_digit(t[p]); ++p) {
      int d = t[p] - '0';
      if (!dropped && fits(S, d)) S = S * 10 + static_cast<std::uint64_t>(d);
      else dropped = true, ++X;
    }
  }
  if (p < n && t[p] == '.') {
    integer = false;
    ++p;
    if (p >= n || !is_digit(t[p])) return r;
    bool fdrop = false;
    for (; p < n && is_digit(t[p]); ++p) {
      int d = t[p] - '0';
      if (!fdrop && fits(S, d)) S = S * 10 + static_cast<std::uint64_t>(d), --X;
      else fdrop = true;
    }
  }
  if (p < n && (t[p] == 'e' || t[p] == 'E')) {
    integer = false;
    ++p;
    bool eneg = false;
    if (p < n && (t[p] == '+' || t[p] == '-')) eneg = t[p] == '-', ++p;
    if (p >= n || !is_digit(t[p])) return r;
    std::int64_t E = 0;
    bool refused = false;
    for (; p < n && is_digit(t[p]); ++p) {
      int d = t[p] - '0';
      if (refused) continue;
      if (E > 214748364 || (E == 214748364 && d > 7)) {
        refused = true;
        if (S != 0 && !eneg) {
          r.kind = Number::OutOfRange;
          r.length = p + 1;
          return r;
        }
      } else {
        E = E * 10 + d;
      }
    }
    r.length = p;
    if (refused) {
      r.kind = Number::Double;
      r.d = neg ? -0.0 : 0.0;
      return r;
    }
    X = eneg ? X - E : X + E;
    if (X > INT32_MAX) X = INT32_MAX;
    if (X < INT32_MIN) X = INT32_MIN;
  }
  r.length = p;
  if (integer && !dropped) {
    if (!neg) {
      r.kind = Number::UInt;
      r.u = S;
      return r;
    }
    if (S >= 1 && S <= 9223372036854775808ull) {
      r.kind = Number::Int;
      r.i = static_cast<std::int64_t>(0 - S);
      return r;
    }
    r.kind = Number::Double;
    r.d = -static_cast<double>(S);
    return r;
  }
  double F = static_cast<double>(S);
  volatile double f = F;  // one rounding per operation, nothing fused
  bool zero_early = false;
  while (X > 308 || X < -308) {
    if (f == 0) {
      zero_early = true;
      break;
    }
    if (X > 0) {
      r.kind = Number::OutOfRange;
      return r;
    }
    f = f / 1e308;
    X += 308;
  }
  if (!zero_early) {
    if (X >= 0) {
      f = f * pow10_nearest(static_cast<int>(X));
      if (std::isinf(f)) {
        r.kind = Number::OutOfRange;
        return r;
      }
    } else {
      f = f / pow10_nearest(static_cast<int>(-X));
    }
  }
  r.kind = Number::Double;
  r.d = neg ? -f : f;
  return r;
}

// Shortest digits of a finite non-zero |d| that read back as d (correctly
// rounded), the nearest such: digits without trailing zeros and k with
// |d| = 0.digits × 10^k. Candidates of p digits are the correctly rounded one
// and, when that one does not read back, its two neighbours.
inline bool shortest(double d, std::string& digits, int& k) {
  d = std::fabs(d);
  for (int prec = 1; prec <= 17; ++prec) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*e", prec - 1, d);
    // buf: D[.DDD]e±XX
    std::string m;
    const char* q = buf;
    for (; *q != 'e'; ++q)
      if (is_digit(*q)) m += *q;
    int e10 = std::atoi(q + 1);
    std::uint64_t mv = std::strtoull(m.c_str(), nullptr, 10);
    for (int delta : {0, 1, -1}) {
      std::uint64_t v = mv + static_cast<std::uint64_t>(static_cast<std::int64_t>(delta));
      if (v == 0) continue;
      char cand[64];
      // v × 10^(e10 - prec + 1)
      std::snprintf(cand, sizeof cand, "%llue%d", static_cast<unsigned long long>(v), e10 - prec + 1);
      if (std::strtod(cand, nullptr) != d) continue;
      std::string s = std::to_string(v);
      int exp_of_first = static_cast<int>(s.size()) + e10 - prec + 1;  // value = 0.s × 10^exp_of_first
      while (s.size() > 1 && s.back() == '0') s.pop_back();
      digits = s;
      k = exp_of_first;
      return true;
    }
  }
  return false;
}

// std::to_chars' shortest digits of a finite non-zero |d|, in the same form as
// `shortest`: from its scientific text "d[.ddd]e±xx".
inline void to_chars_shortest(double d, std::string& digits, int& k) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific);
  const char* e = std::find(buf, r.ptr, 'e');
  digits.clear();
  for (const char* p = buf; p < e; ++p)
    if (*p != '.') digits += *p;
  int x = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, x);
  k = x + 1;
}

// The canonical text of a double.
inline std::optional<std::string> format_double(double d) {
  if (!std::isfinite(d)) return std::string("null");
  std::string out = std::signbit(d) ? "-" : "";
  if (d == 0) return out + "0.0";
  std::string ds;
  int k;
  if (!shortest(d, ds, k)) return std::nullopt;
  int n = static_cast<int>(ds.size());
  if (k >= -4 && k <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-k), '0');
    out += ds;
  } else if (k >= 1 && k <= 16 && n <= k) {
    out += ds;
    out.append(static_cast<std::size_t>(k - n), '0');
    out += ".0";
  } else if (k >= 1 && k <= 16) {
    out += ds.substr(0, static_cast<std::size_t>(k));
    out += '.';
    out += ds.substr(static_cast<std::size_t>(k));
  } else {
    out += ds[0];
    if (n > 1) out += '.' + ds.substr(1);
    out += 'e';
    out += k - 1 >= 0 ? '+' : '-';
    out += std::to_string(std::abs(k - 1));
  }
  return out;
}

// ---- canonical text ---------------------------------------------------------

// Number tokens of a JSON text in order (outside strings): runs that start
// with '-' or a digit. `spans` gets (offset, length) of each.
inline void number_tokens(std::string_view t, std::vector<std::pair<std::size_t, std::size_t>>& spans) {
  std::size_t i = 0;
  while (i < t.size()) {
    char c = t[i];
    if (c == '"') {
      ++i;
      while (i < t.size() && t[i] != '"') i += t[i] == '\\' ? 2 : 1;
      ++i;
    } else if (c == '-' || is_digit(c)) {
      std::size_t s = i;
      while (i < t.size() &&
             (is_digit(t[i]) || t[i] == '.' || t[i] == 'e' || t[i] == 'E' || t[i] == '+' || t[i] == '-'))
        ++i;
      spans.emplace_back(s, i - s);
    } else {
      ++i;
    }
  }
}

}  // namespace fuzzref
