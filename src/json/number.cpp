#include "json/number.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "json/scan.h"
#include "json/shortest.h"

// The conversion below rounds once per IEEE double operation, and the
// canonical text of a number depends on every such rounding: wider
// intermediates (x87's 80 bits) would round twice and change hashes.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error \
    "quarn_core needs double arithmetic without wider intermediates (FLT_EVAL_METHOD 0); on 32-bit x86 compile with -msse2 -mfpmath=sse"
#endif

namespace quarn::json {

// Decimal literals: the compiler rounds each to the nearest double.
// clang-format off
const double kPow10[309] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23,
    1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31,
    1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39,
    1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47,
    1e48, 1e49, 1e50, 1e51, 1e52, 1e53, 1e54, 1e55,
    1e56, 1e57, 1e58, 1e59, 1e60, 1e61, 1e62, 1e63,
    1e64, 1e65, 1e66, 1e67, 1e68, 1e69, 1e70, 1e71,
    1e72, 1e73, 1e74, 1e75, 1e76, 1e77, 1e78, 1e79,
    1e80, 1e81, 1e82, 1e83, 1e84, 1e85, 1e86, 1e87,
    1e88, 1e89, 1e90, 1e91, 1e92, 1e93, 1e94, 1e95,
    1e96, 1e97, 1e98, 1e99, 1e100, 1e101, 1e102, 1e103,
    1e104, 1e105, 1e106, 1e107, 1e108, 1e109, 1e110, 1e111,
    1e112, 1e113, 1e114, 1e115, 1e116, 1e117, 1e118, 1e119,
    1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126, 1e127,
    1e128, 1e129, 1e130, 1e131, 1e132, 1e133, 1e134, 1e135,
    1e136, 1e137, 1e138, 1e139, 1e140, 1e141, 1e142, 1e143,
    1e144, 1e145, 1e146, 1e147, 1e148, 1e149, 1e150, 1e151,
    1e152, 1e153, 1e154, 1e155, 1e156, 1e157, 1e158, 1e159,
    1e160, 1e161, 1e162, 1e163, 1e164, 1e165, 1e166, 1e167,
    1e168, 1e169, 1e170, 1e171, 1e172, 1e173, 1e174, 1e175,
    1e176, 1e177, 1e178, 1e179, 1e180, 1e181, 1e182, 1e183,
    1e184, 1e185, 1e186, 1e187, 1e188, 1e189, 1e190, 1e191,
    1e192, 1e193, 1e194, 1e195, 1e196, 1e197, 1e198, 1e199,
    1e200, 1e201, 1e202, 1e203, 1e204, 1e205, 1e206, 1e207,
    1e208, 1e209, 1e210, 1e211, 1e212, 1e213, 1e214, 1e215,
    1e216, 1e217, 1e218, 1e219, 1e220, 1e221, 1e222, 1e223,
    1e224, 1e225, 1e226, 1e227, 1e228, 1e229, 1e230, 1e231,
    1e232, 1e233, 1e234, 1e235, 1e236, 1e237, 1e238, 1e239,
    1e240, 1e241, 1e242, 1e243, 1e244, 1e245, 1e246, 1e247,
    1e248, 1e249, 1e250, 1e251, 1e252, 1e253, 1e254, 1e255,
    1e256, 1e257, 1e258, 1e259, 1e260, 1e261, 1e262, 1e263,
    1e264, 1e265, 1e266, 1e267, 1e268, 1e269, 1e270, 1e271,
    1e272, 1e273, 1e274, 1e275, 1e276, 1e277, 1e278, 1e279,
    1e280, 1e281, 1e282, 1e283, 1e284, 1e285, 1e286, 1e287,
    1e288, 1e289, 1e290, 1e291, 1e292, 1e293, 1e294, 1e295,
    1e296, 1e297, 1e298, 1e299, 1e300, 1e301, 1e302, 1e303,
    1e304, 1e305, 1e306, 1e307, 1e308};
// clang-format on

bool decimal_to_double(std::uint64_t s, std::int32_t x, double& out) noexcept {
  double f = static_cast<double>(s);
  std::int64_t e = x;
  while (e > 308 || e < -308) {
    if (f == 0.0) {
      out = f;
      return true;
    }
    if (e > 0) return false;
    f /= 1e308;
    e += 308;
  }
  if (e >= 0) {
    f *= kPow10[e];
    if (std::isinf(f)) return false;
  } else {
    f /= kPow10[-e];
  }
  out = f;
  return true;
}

namespace {

// "00" to "99".
constexpr struct DigitPairs {
  char text[200]{};
  constexpr DigitPairs() {
    for (std::size_t i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
} kDigitPairs;

inline void write_pair(char* p, std::uint32_t v) noexcept {
  std::memcpy(p, kDigitPairs.text + std::size_t{2} * v, 2);
}

// The digits of `m`, eight at a time in 32-bit arithmetic, then in pairs.
inline int write_digits(std::uint64_t m, char* out) noexcept {
  if (m < 10) {  // decimal_digits counts no digit for 0
    *out = static_cast<char>('0' + m);
    return 1;
  }
  const int n = detail::decimal_digits(m);
  char* end = out + n;
  while (m >= 100000000) {
    const auto low = static_cast<std::uint32_t>(m % 100000000);
    m /= 100000000;
    const std::uint32_t hi4 = low / 10000, lo4 = low % 10000;
    write_pair(end - 8, hi4 / 100);
    write_pair(end - 6, hi4 % 100);
    write_pair(end - 4, lo4 / 100);
    write_pair(end - 2, lo4 % 100);
    end -= 8;
  }
  auto v = static_cast<std::uint32_t>(m);
  while (v >= 100) {
    write_pair(end - 2, v % 100);
    v /= 100;
    end -= 2;
  }
  if (v >= 10) write_pair(end - 2, v);
  else end[-1] = static_cast<char>('0' + v);
  return n;
}

}  // namespace

std::size_t write_uint(std::uint64_t u, char* out) noexcept {
  return static_cast<std::size_t>(write_digits(u, out));
}

ShortestDigits shortest_digits(double d) noexcept {
  const Decimal dec = shortest_decimal(d);
  ShortestDigits out;
  out.n = write_digits(dec.significand, out.digits);
  out.k = dec.exponent + out.n;
  out.value = dec.significand;
  return out;
}

ShortestDigits digits_from(std::uint64_t digits, int k) noexcept {
  ShortestDigits out;
  out.n = write_digits(digits, out.digits);
  out.k = k;
  out.value = digits;
  return out;
}

std::size_t format_digits(const ShortestDigits& sd, bool negative, char* out) noexcept {
  char* w = out;
  if (negative) *w++ = '-';
  const int n = sd.n, k = sd.k;
  if (k >= -4 && k <= 0) {
    *w++ = '0';
    *w++ = '.';
    for (int i = 0; i < -k; ++i) *w++ = '0';
    std::memcpy(w, sd.digits, static_cast<std::size_t>(n));
    w += n;
  } else if (k >= 1 && k <= 16) {
    if (n <= k) {
      std::memcpy(w, sd.digits, static_cast<std::size_t>(n));
      w += n;
      for (int i = n; i < k; ++i) *w++ = '0';
      *w++ = '.';
      *w++ = '0';
    } else {
      std::memcpy(w, sd.digits, static_cast<std::size_t>(k));
      w += k;
      *w++ = '.';
      std::memcpy(w, sd.digits + k, static_cast<std::size_t>(n - k));
      w += n - k;
    }
  } else {
    *w++ = sd.digits[0];
    if (n > 1) {
      *w++ = '.';
      std::memcpy(w, sd.digits + 1, static_cast<std::size_t>(n - 1));
      w += n - 1;
    }
    *w++ = 'e';
    int e = k - 1;
    *w++ = e < 0 ? '-' : '+';
    if (e < 0) e = -e;
    char tmp[8];
    int t = 0;
    do {
      tmp[t++] = static_cast<char>('0' + e % 10);
      e /= 10;
    } while (e != 0);
    while (t > 0) *w++ = tmp[--t];
  }
  return static_cast<std::size_t>(w - out);
}

std::size_t format_double(double d, char* out) noexcept {
  if (!std::isfinite(d)) [[unlikely]] {
    // Not a JSON number; values never hold one, but the printer must not write garbage.
    std::memcpy(out, "null", 4);  // NOLINT(bugprone-not-null-terminated-result): a length is returned
    return 4;
  }
  if (d == 0.0) {
    if (std::signbit(d)) {
      std::memcpy(out, "-0.0", 4);  // NOLINT(bugprone-not-null-terminated-result)
      return 4;
    }
    std::memcpy(out, "0.0", 3);  // NOLINT(bugprone-not-null-terminated-result)
    return 3;
  }
  return format_digits(shortest_digits(d), std::signbit(d), out);
}

bool reparse_digits(const ShortestDigits& sd, double d, double& out) noexcept {
  std::uint64_t s = sd.value;
  std::int32_t x;
  if (sd.k >= 1 && sd.k <= 16 && sd.n <= sd.k) {
    // "ddd000.0": the zeros and the fraction digit all join the significand.
    for (int i = sd.n; i <= sd.k; ++i) s *= 10;
    x = -1;
  } else {
    x = sd.k - sd.n;
  }
  // A significand that is an exact double and an exact power of ten give one
  // correctly rounded operation, which reads back the shortest digits' double.
  if (s <= (std::uint64_t{1} << 53) && x >= -22 && x <= 22) {
    out = d;
    return true;
  }
  double f;
  if (!decimal_to_double(s, x, f)) return false;
  out = std::signbit(d) ? -f : f;
  return true;
}

bool reparse_double(double d, double& out) noexcept {
  if (d == 0.0) {
    out = d;
    return true;
  }
  return reparse_digits(shortest_digits(d), d, out);
}

}  // namespace quarn::json
