// Recognising encodings that are already in the form this module writes, so
// that they can be copied verbatim.
//
// Spans and Struct values usually come back to the module as bytes it wrote
// itself (a span from the span builder, Struct bytes from payload
// processing). Decoding such bytes and encoding the records again gives the
// same bytes, so these checks let the builders copy them instead. Each check
// answers one question: is `bytes` a valid encoding that decoding and
// re-encoding would reproduce exactly? Any doubt answers no, and the caller
// then decodes as usual (which also finds the exact error of a bad input).
#pragma once

#include <string_view>

namespace quarn::proto {

// `bytes` is a google.protobuf.Struct message at nesting `level` (0 for a
// message decoded on its own): entries with strictly ascending keys, an empty
// key and a value of no kind left out, minimal varints, one kind per Value,
// no unknown fields, and nothing nested deeper than the decoder allows.
bool is_verbatim_struct(std::string_view bytes, int level) noexcept;

// `bytes` is a Span message (level 0) in the form write_span writes.
bool is_verbatim_span(std::string_view bytes) noexcept;

}  // namespace quarn::proto
