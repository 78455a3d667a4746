// Whole-message encoders for the checks. The module writes its encodings
// straight into the result objects it returns; here each message is measured
// and written into one Buffer of exactly the measured size, and the writer is
// checked to fill it exactly.
#pragma once

#include <cstddef>
#include <vector>

#include "base/buffer.h"
#include "common.h"
#include "proto/span.h"
#include "proto/struct.h"

namespace fuzzref {

// A buffer of `total` bytes filled by `write(out)`, which returns the end of
// what it wrote.
template <class Write>
quarn::Buffer filled(std::size_t total, Write&& write) {
  quarn::Buffer b;
  if (total == 0) return b;
  char* out = b.prepare(total);
  char* end = write(out);
  FUZZ_CHECK(end == out + total);
  b.commit(total);
  return b;
}

inline quarn::Buffer encode_span(const quarn::proto::Span& span) {
  quarn::proto::Measured m = quarn::proto::measure_span(span);
  return filled(m.total, [&](char* out) {
    quarn::proto::write_span(span, m, out);
    return out + m.total;
  });
}

inline quarn::Buffer encode_export_spans_request(const quarn::proto::ExportSpansRequest& request) {
  quarn::proto::Measured m = quarn::proto::measure_export_spans_request(request);
  return filled(m.total, [&](char* out) {
    quarn::proto::write_export_spans_request(request, m, out);
    return out + m.total;
  });
}

inline quarn::Buffer encode_protobuf_struct(const quarn::proto::Struct& st) {
  std::vector<std::size_t> sizes;
  const std::size_t total = quarn::proto::measure_struct(st, sizes);
  const std::size_t* cursor = sizes.data();
  quarn::Buffer b = filled(total, [&](char* out) { return quarn::proto::write_struct(st, cursor, out); });
  FUZZ_CHECK(total == 0 || cursor == sizes.data() + sizes.size());
  return b;
}

}  // namespace fuzzref
