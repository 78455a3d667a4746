// Span bytes from outside: decode, encode, decode, and the export request.
//
// Checked: a decoded Span encodes to bytes that decode to the same record and
// encode to the same bytes again; bytes that is_verbatim_span accepts are
// exactly their re-encoding, and it never accepts bytes that fail to decode;
// an export request built from the bytes (copied when canonical, decoded
// otherwise) equals the one built from the re-encoding, and a failing span
// fails the request with the decoder's text.
#include <cstdint>
#include <string>

#include "common.h"
#include "encode.h"
#include "proto/export_request.h"
#include "proto/verbatim.h"
#include "records.h"

using namespace quarn;

namespace {

Result<Buffer> request_bytes(std::string_view span, Arena& arena) {
  std::string_view spans[2] = {span, span};
  auto q = proto::decode_export_spans("svc", "env", "1.0", "inst", spans, arena);
  if (!q) return std::move(q).error();
  return fuzzref::encode_export_spans_request(*q);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = fuzzref::as_text(data, size);
  bool canonical = proto::is_verbatim_span(bytes);
  Arena arena;
  auto first = proto::decode_span(bytes, arena);
  auto request = request_bytes(bytes, arena);
  if (!first) {
    FUZZ_CHECK(!canonical);
    FUZZ_CHECK(!request);
    FUZZ_CHECK(request.error().kind == ErrorKind::Serialization &&
               request.error().message == "failed to decode span proto bytes: " + first.error().text());
    return 0;
  }
  Buffer encoded = fuzzref::check_reencoding(
      bytes, canonical, *first, [&](std::string_view b) { return proto::decode_span(b, arena); },
      fuzzref::encode_span, fuzzref::same_span, proto::is_verbatim_span);

  auto from_encoded = request_bytes(encoded.view(), arena);
  FUZZ_CHECK(request && from_encoded && request->view() == from_encoded->view());
  return 0;
}
