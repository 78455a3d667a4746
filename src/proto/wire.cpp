#include "proto/wire.h"

#include <bit>

#include "base/messages.h"
#include "base/utf8.h"

namespace quarn::proto {

namespace {
const char* wire_type_name(unsigned t) {
  switch (t) {
    case kVarint: return "Varint";
    case kSixtyFourBit: return "SixtyFourBit";
    case kLengthDelimited: return "LengthDelimited";
    case kStartGroup: return "StartGroup";
    case kEndGroup: return "EndGroup";
    default: return "ThirtyTwoBit";
  }
}
}  // namespace

std::string DecodeError::text() const {
  std::string out = msg::kDecodeFailed;
  out += path;
  out += reason;
  return out;
}

bool fail(DecodeError& e, std::string reason) {
  e.reason = std::move(reason);
  return false;
}

bool read_varint_slow(WireReader& r, std::uint64_t& out, DecodeError& e) {
  std::uint64_t v = 0;
  for (int i = 0; i < 10; ++i) {
    if (r.p == r.end) return fail(e, msg::kInvalidVarint);
    unsigned b = *r.p++;
    if (i == 9 && b > 1) return fail(e, msg::kInvalidVarint);
    v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
    if (b < 0x80) {
      out = v;
      return true;
    }
  }
  return fail(e, msg::kInvalidVarint);
}

bool read_key(WireReader& r, std::uint32_t& field, unsigned& wire_type, DecodeError& e) {
  std::uint64_t key;
  if (!read_varint(r, key, e)) return false;
  if (key > 0xFFFFFFFFull) return fail(e, msg::kInvalidKey + std::to_string(key));
  wire_type = static_cast<unsigned>(key & 7);
  if (wire_type > 5) return fail(e, msg::kInvalidWireTypeValue + std::to_string(wire_type));
  field = static_cast<std::uint32_t>(key >> 3);
  if (field == 0) return fail(e, msg::kInvalidTag);
  return true;
}

bool read_length(WireReader& r, std::size_t& len, DecodeError& e) {
  std::uint64_t v;
  if (!read_varint(r, v, e)) return false;
  if (v > r.remaining()) return fail(e, msg::kBufferUnderflow);
  len = static_cast<std::size_t>(v);
  return true;
}

bool read_string(WireReader& r, std::string_view& out, DecodeError& e) {
  std::size_t len;
  if (!read_length(r, len, e)) return false;
  if (!is_valid_utf8(std::string_view(reinterpret_cast<const char*>(r.p), len)))
    return fail(e, msg::kNotUtf8);
  out = std::string_view(reinterpret_cast<const char*>(r.p), len);
  r.p += len;
  return true;
}

bool read_fixed64(WireReader& r, double& out, DecodeError& e) {
  if (r.remaining() < 8) return fail(e, msg::kBufferUnderflow);
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(r.p[i]) << (8 * i);
  r.p += 8;
  std::memcpy(&out, &bits, 8);
  return true;
}

bool fail_wire_type(unsigned found, WireType expected, DecodeError& e) {
  std::string reason = msg::kInvalidWireType;
  reason += wire_type_name(found);
  reason += " (expected ";
  reason += wire_type_name(expected);
  reason += ')';
  return fail(e, std::move(reason));
}

bool skip_field(WireReader& r, std::uint32_t field, unsigned wire_type, int level, DecodeError& e) {
  if (level >= kRecursionLimit) return fail(e, msg::kWireRecursionLimit);
  switch (wire_type) {
    case kVarint: {
      std::uint64_t v;
      return read_varint(r, v, e);
    }
    case kSixtyFourBit:
      if (r.remaining() < 8) return fail(e, msg::kBufferUnderflow);
      r.p += 8;
      return true;
    case kThirtyTwoBit:
      if (r.remaining() < 4) return fail(e, msg::kBufferUnderflow);
      r.p += 4;
      return true;
    case kLengthDelimited: {
      std::size_t len;
      if (!read_length(r, len, e)) return false;
      r.p += len;
      return true;
    }
    case kStartGroup:
      for (;;) {
        std::uint32_t inner;
        unsigned inner_type;
        if (!read_key(r, inner, inner_type, e)) return false;
        if (inner_type == kEndGroup) {
          if (inner != field) return fail(e, msg::kUnexpectedEndGroup);
          return true;
        }
        if (!skip_field(r, inner, inner_type, level + 1, e)) return false;
      }
    default:  // an end-group key outside any group
      return fail(e, msg::kUnexpectedEndGroup);
  }
}

bool enter_message(WireReader& r, int level, const unsigned char*& body_end, DecodeError& e) {
  if (level + 1 > kRecursionLimit) return fail(e, msg::kWireRecursionLimit);
  std::size_t len;
  if (!read_length(r, len, e)) return false;
  body_end = r.p + len;
  return true;
}

}  // namespace quarn::proto
