// Protocol-buffer wire primitives: varints, keys and lengths, for writing
// into a buffer sized in advance and for reading input that cannot be trusted.
//
// Reading follows one discipline throughout the codec: every read is bounded
// by the end of the whole input; an embedded message records where its body
// ends, reads its fields until it reaches that point, and fails with
// "delimited length exceeded" if a field ran past it. Failures are values
// (`DecodeError`), filled by the cold `fail` helpers here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/messages.h"

namespace quarn::proto {

enum WireType : unsigned {
  kVarint = 0,
  kSixtyFourBit = 1,
  kLengthDelimited = 2,
  kStartGroup = 3,
  kEndGroup = 4,
  kThirtyTwoBit = 5,
};

// Embedded messages, map entries and skipped groups may nest this deep below
// the message being decoded (which is level 0).
inline constexpr int kRecursionLimit = 100;

// A decode failure: the reason, and the "<message>.<field>: " parts of the
// enclosing fields, innermost first, added as the failure travels outward.
struct DecodeError {
  std::string path;
  std::string reason;

  // "failed to decode Protobuf message: " + path + reason
  std::string text() const;
  // Records that the failure happened while decoding `message`.`field`.
  void within(const char* message, const char* field) {
    path += message;
    path += '.';
    path += field;
    path += ": ";
  }
};

// ---- writing -----------------------------------------------------------------

inline constexpr std::size_t varint_size(std::uint64_t v) noexcept {
  std::size_t n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

inline char* write_varint(char* p, std::uint64_t v) noexcept {
  while (v >= 0x80) {
    *p++ = static_cast<char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

// Signed 32-bit values (enumerations, codes, nanos) go on the wire
// sign-extended to 64 bits, so a negative value takes ten bytes.
inline constexpr std::uint64_t int32_wire(std::int32_t v) noexcept {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
}

inline constexpr std::uint32_t make_key(std::uint32_t field, WireType type) noexcept {
  return (field << 3) | type;
}

inline char* write_fixed64(char* p, double d) noexcept {
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  for (int i = 0; i < 8; ++i) *p++ = static_cast<char>(bits >> (8 * i));
  return p;
}

inline char* write_bytes(char* p, std::string_view s) noexcept {
  if (!s.empty()) std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

// Size of a length-delimited field with a one-or-more byte key: key, length, body.
inline constexpr std::size_t delimited_size(std::uint32_t key, std::size_t body) noexcept {
  return varint_size(key) + varint_size(body) + body;
}

// ---- reading -----------------------------------------------------------------

struct WireReader {
  const unsigned char* p;
  const unsigned char* end;  // end of the whole input

  explicit WireReader(std::string_view bytes) noexcept
      : p(reinterpret_cast<const unsigned char*>(bytes.data())), end(p + bytes.size()) {}
  std::size_t remaining() const noexcept { return static_cast<std::size_t>(end - p); }
};

[[gnu::cold]] bool fail(DecodeError& e, std::string reason);

// At most ten bytes; the tenth may only be 00 or 01. "invalid varint" when
// longer, larger or cut off.
bool read_varint_slow(WireReader& r, std::uint64_t& out, DecodeError& e);
inline bool read_varint(WireReader& r, std::uint64_t& out, DecodeError& e) {
  if (r.p != r.end && *r.p < 0x80) [[likely]] {
    out = *r.p++;
    return true;
  }
  return read_varint_slow(r, out, e);
}

// A field key: "invalid key value: K" above 2^32 - 1, "invalid wire type
// value: W" for 6 and 7, "invalid tag value: 0" for field number 0.
bool read_key(WireReader& r, std::uint32_t& field, unsigned& wire_type, DecodeError& e);

// A length that must fit in the rest of the input ("buffer underflow").
bool read_length(WireReader& r, std::size_t& len, DecodeError& e);

// A length-delimited string body that must be valid UTF-8.
bool read_string(WireReader& r, std::string_view& out, DecodeError& e);

// Eight little-endian bytes as a double ("buffer underflow" if fewer remain).
bool read_fixed64(WireReader& r, double& out, DecodeError& e);

// "invalid wire type: <found> (expected <expected>)" unless they match.
bool fail_wire_type(unsigned found, WireType expected, DecodeError& e);
inline bool expect_wire_type(unsigned found, WireType expected, DecodeError& e) {
  return found == expected || fail_wire_type(found, expected, e);
}

// Skips a field that the message does not know, found in a message (or group)
// at nesting `level`; groups are skipped up to their matching end key.
bool skip_field(WireReader& r, std::uint32_t field, unsigned wire_type, int level, DecodeError& e);

// Starts an embedded message (or map entry) one level below `level`: checks
// the nesting limit and reads the body length. `body_end` is where its fields
// stop.
bool enter_message(WireReader& r, int level, const unsigned char*& body_end, DecodeError& e);
// Ends it: the fields must have stopped exactly at `body_end`.
inline bool leave_message(const WireReader& r, const unsigned char* body_end, DecodeError& e) {
  return r.p == body_end || fail(e, msg::kDelimitedExceeded);
}

}  // namespace quarn::proto
