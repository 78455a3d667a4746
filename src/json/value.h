// The JSON value model.
//
// A `JsonValue` is a 16-byte tagged handle: null, boolean, one of three number
// kinds, or a string / array / object that points at storage in an Arena
// (json/arena.h). Values are immutable once built and never own what they point
// at, so copying a value is a shallow copy and sub-trees may be shared between
// values that live in the same arena.
//
// A string may carry the plain mark: its bytes need no escaping when printed
// (no byte below 20 hex, no '"' and no '\\'), so the printer copies them
// without looking. On an object the same mark says this of every member name.
// The mark is a promise, never a guess: a producer that does not know leaves it
// clear, and the printer then scans as for any string.
//
// Numbers keep their kind: a non-negative integer (unsigned 64-bit), a negative
// integer (signed 64-bit, always below 0) and a finite double are distinct, so 1
// and 1.0 are different values. Objects hold their members sorted by name in
// ascending byte order with unique names; every constructor below keeps that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "base/arena.h"

namespace quarn::json {

enum class Kind : std::uint8_t { Null, Bool, UInt, Int, Double, String, Array, Object };

struct JsonMember;

// One JSON number: the parser's output for a number token.
struct JsonNumber {
  enum class Kind : std::uint8_t { UInt, Int, Double };
  Kind kind;
  union {
    std::uint64_t u;  // Kind::UInt
    std::int64_t i;   // Kind::Int, always < 0
    double d;         // Kind::Double, always finite
  };
  // For a double read exactly from at most 15 significant digits: those
  // digits without trailing zeros (0 when unknown) and the decimal point
  // position k (|d| = 0.digits × 10^k). They are then the double's shortest
  // digits, which spares the printer from computing them.
  std::uint64_t digits = 0;
  int k = 0;
};

class JsonValue {
 public:
  constexpr JsonValue() noexcept : tag_(static_cast<std::uint64_t>(Kind::Null)), u_(0) {}

  static constexpr JsonValue null() noexcept { return JsonValue(); }
  static constexpr JsonValue boolean(bool b) noexcept { return JsonValue(Kind::Bool, 0, b ? 1u : 0u); }
  static constexpr JsonValue uint(std::uint64_t u) noexcept { return JsonValue(Kind::UInt, 0, u); }
  // A signed integer; values of 0 and above become the non-negative kind.
  static constexpr JsonValue integer(std::int64_t i) noexcept {
    return i < 0 ? JsonValue(Kind::Int, 0, static_cast<std::uint64_t>(i))
                 : JsonValue(Kind::UInt, 0, static_cast<std::uint64_t>(i));
  }
  // Caller guarantees `d` is finite.
  static JsonValue dbl(double d) noexcept {
    JsonValue v(Kind::Double, 0, 0);
    v.d_ = d;
    return v;
  }
  // A double together with its shortest digits (see JsonNumber::digits;
  // digits < 10^15, -21 <= k <= 37).
  static JsonValue dbl_with_digits(double d, std::uint64_t digits, int k) noexcept {
    JsonValue v(Kind::Double, 0, 0);
    v.tag_ |= (digits << 8) | (static_cast<std::uint64_t>(k + kDigitsBias) << 58);
    v.d_ = d;
    return v;
  }
  static JsonValue number(const JsonNumber& n) noexcept {
    switch (n.kind) {
      case JsonNumber::Kind::UInt: return uint(n.u);
      case JsonNumber::Kind::Int: return JsonValue(Kind::Int, 0, static_cast<std::uint64_t>(n.i));
      case JsonNumber::Kind::Double: break;
    }
    return n.digits != 0 ? dbl_with_digits(n.d, n.digits, n.k) : dbl(n.d);
  }
  // A string that refers to `s` without copying: the bytes must outlive every
  // use of the value (arena storage, or text the caller keeps alive).
  static JsonValue string_ref(std::string_view s) noexcept {
    JsonValue v(Kind::String, s.size(), 0);
    v.s_ = s.data();
    return v;
  }
  // A string whose bytes are copied into `arena`.
  static JsonValue string_copy(Arena& arena, std::string_view s) {
    return string_ref(std::string_view(arena.copy_bytes(s), s.size()));
  }
  // An array over `n` elements stored at `elems` (arena storage).
  static JsonValue array_ref(const JsonValue* elems, std::size_t n) noexcept {
    JsonValue v(Kind::Array, n, 0);
    v.a_ = elems;
    return v;
  }
  // An object over `n` members stored at `members`, which must already be
  // sorted by name in ascending byte order with unique names.
  static JsonValue object_ref(const JsonMember* members, std::size_t n) noexcept {
    JsonValue v(Kind::Object, n, 0);
    v.o_ = members;
    return v;
  }

  // The same string or object with the plain mark set (see above): for a
  // string, its bytes need no escaping; for an object, no member name does.
  JsonValue plain() const noexcept {
    JsonValue v = *this;
    v.tag_ |= kPlainMark;
    return v;
  }
  bool is_plain() const noexcept { return (tag_ & kPlainMark) != 0; }

  Kind kind() const noexcept { return static_cast<Kind>(tag_ & kKindMask); }
  bool is_null() const noexcept { return kind() == Kind::Null; }
  bool is_string() const noexcept { return kind() == Kind::String; }
  bool is_array() const noexcept { return kind() == Kind::Array; }
  bool is_object() const noexcept { return kind() == Kind::Object; }
  bool is_number() const noexcept {
    Kind k = kind();
    return k == Kind::UInt || k == Kind::Int || k == Kind::Double;
  }

  bool as_bool() const noexcept { return u_ != 0; }
  std::uint64_t as_uint() const noexcept { return u_; }
  std::int64_t as_int() const noexcept { return static_cast<std::int64_t>(u_); }
  double as_double() const noexcept { return d_; }
  // The shortest digits of a double when known (else 0), and their k.
  std::uint64_t double_digits() const noexcept { return (tag_ >> 8) & ((std::uint64_t{1} << 50) - 1); }
  int double_k() const noexcept { return static_cast<int>(tag_ >> 58) - kDigitsBias; }
  // The number as the nearest double (integers rounded half to even).
  double to_double() const noexcept {
    switch (kind()) {
      case Kind::UInt: return static_cast<double>(u_);
      case Kind::Int: return static_cast<double>(static_cast<std::int64_t>(u_));
      default: return d_;
    }
  }
  std::string_view as_string() const noexcept { return {s_, size()}; }
  // Element or member count of a container, byte length of a string.
  std::size_t size() const noexcept { return static_cast<std::size_t>(tag_ >> 8); }
  std::span<const JsonValue> elements() const noexcept { return {a_, size()}; }
  inline std::span<const JsonMember> members() const noexcept;
  // True when both handles are the same value: same kind, plain mark, size
  // and payload (for containers and strings, the same storage). Every constructor sets
  // all sixteen bytes, so comparing them is exact.
  bool identical(const JsonValue& other) const noexcept {
    std::uint64_t a, b;
    std::memcpy(&a, &u_, sizeof a);
    std::memcpy(&b, &other.u_, sizeof b);
    return tag_ == other.tag_ && a == b;
  }
  // The member named `name`, or nullptr (binary search; objects only).
  const JsonValue* find(std::string_view name) const noexcept;

 private:
  constexpr JsonValue(Kind k, std::size_t size, std::uint64_t u) noexcept
      : tag_(static_cast<std::uint64_t>(k) | (static_cast<std::uint64_t>(size) << 8)), u_(u) {}

  static constexpr int kDigitsBias = 22;
  static constexpr std::uint64_t kKindMask = 0x0f;
  static constexpr std::uint64_t kPlainMark = 0x80;
  // The kind in the low four bits and the plain mark in the top bit of the low
  // byte; the size (or a double's digits) above it.
  std::uint64_t tag_;
  union {
    std::uint64_t u_;
    double d_;
    const char* s_;
    const JsonValue* a_;
    const JsonMember* o_;
  };
};

struct JsonMember {
  std::string_view name;
  JsonValue value;
};

inline std::span<const JsonMember> JsonValue::members() const noexcept { return {o_, size()}; }

// The members of an object value, in ascending name byte order.
using JsonObject = std::span<const JsonMember>;

// An array whose elements are copied from `elems` into `arena`.
JsonValue make_array(Arena& arena, std::span<const JsonValue> elems);

// How recent small objects with unique names were put in order, so that the
// next object whose names come in the same order as one of them (the records
// of an array, as a rule) is ordered without sorting. Objects are told apart
// by their size and first name, so records nested in records keep their own
// entries. It keeps views of those objects' names: a memo serves one parse or
// one conversion, and lives no longer than the storage of the values it has
// seen.
class KeyOrderMemo {
 public:
  static constexpr std::size_t kMaxMembers = 64;

 private:
  friend JsonValue make_object(Arena&, std::span<JsonMember>, KeyOrderMemo*);
  static constexpr std::size_t kEntries = 8;
  // A name as plain data: the arrays below stay uninitialised until `n` says
  // how much of them holds something, so a new memo costs eight stores
  // rather than clearing eight kilobytes on every parse.
  struct Name {
    const char* data;
    std::size_t size;
  };
  struct Entry {
    std::size_t n = 0;                // 0: nothing remembered
    Name names[kMaxMembers];          // in their original order
    std::uint8_t order[kMaxMembers];  // order[k]: original position of the k-th name in order
  };
  Entry entries_[kEntries];
};

// An object built from members in any order: `members` is sorted in place by
// name (stable), a later member replaces an earlier one of the same name, and
// the surviving members are copied into `arena`. O(n log n), O(n) when the
// members are already ascending or strictly descending, or (with `memo`) come
// in the order of an object the memo remembers; objects of at most
// KeyOrderMemo::kMaxMembers members with unique names are remembered in `memo`.
JsonValue make_object(Arena& arena, std::span<JsonMember> members, KeyOrderMemo* memo = nullptr);

// An object from members that are already sorted with unique names (copied).
JsonValue make_object_sorted(Arena& arena, std::span<const JsonMember> members);

// Deep structural equality (numbers must match in kind and value; doubles
// compare by value, so 0.0 == -0.0).
bool equal(const JsonValue& a, const JsonValue& b) noexcept;

// A JSON value together with the arena that holds its storage.
struct JsonDocument {
  Arena arena;
  JsonValue root;
};

}  // namespace quarn::json
