// google.protobuf.Struct bytes from outside: decode, encode, decode.
//
// Checked: a decoded Struct encodes to bytes that decode to the same records
// (keys ascending, unique) and encode to the same bytes again; bytes that
// is_verbatim_struct accepts are exactly their own re-encoding, and it
// accepts the re-encoding; it never accepts bytes that fail to decode.
#include <cstdint>

#include "common.h"
#include "encode.h"
#include "proto/verbatim.h"
#include "records.h"

using namespace quarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = fuzzref::as_text(data, size);
  bool canonical = proto::is_verbatim_struct(bytes, 0);
  Arena arena;
  auto first = proto::decode_protobuf_struct(bytes, arena);
  if (!first) {
    FUZZ_CHECK(!canonical);
    FUZZ_CHECK(first.error().text().starts_with("failed to decode Protobuf message: "));
    return 0;
  }
  FUZZ_CHECK(fuzzref::struct_ordered(*first));
  fuzzref::check_reencoding(
      bytes, canonical, *first, [&](std::string_view b) { return proto::decode_protobuf_struct(b, arena); },
      fuzzref::encode_protobuf_struct, fuzzref::same_struct,
      [](std::string_view b) { return proto::is_verbatim_struct(b, 0); });
  return 0;
}
