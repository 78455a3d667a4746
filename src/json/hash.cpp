#include "json/hash.h"

#include "base/buffer.h"
#include "json/print.h"

namespace quarn::json {

namespace {
constexpr std::size_t kChunk = std::size_t{16} * 1024;  // printed text is hashed in pieces of this size
}  // namespace

HashText hash_json_value(const JsonValue& value) {
  Sha256 h;
  Buffer buf(kChunk);
  buf.set_sink(
      [](void* ctx, const char* data, std::size_t size) { static_cast<Sha256*>(ctx)->update(data, size); },
      &h);
  print_json(value, buf);
  buf.flush();
  return h.finish();
}

}  // namespace quarn::json
