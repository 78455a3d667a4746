#include "pybridge/span_calls.h"

#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "proto/export_request.h"
#include "proto/span.h"
#include "pybridge/convert.h"

namespace quarn::pybridge {

namespace {

[[gnu::cold]] PyFailure fail(const char* message) { return PyFailure::type_error(message); }

// A new bytes object holding the encoding of `msg`, written in place: the
// object is created at the measured length and filled once.
template <class T>
Ref encode_to_bytes(const T& msg, proto::Measured (*measure)(const T&),
                    void (*write)(const T&, const proto::Measured&, char*)) {
  proto::Measured m = measure(msg);
  Ref bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(m.total)));
  if (!bytes) return bytes;
  write(msg, m, PyBytes_AsString(bytes.get()));
  return bytes;
}

bool is_bytes(PyObject* obj) noexcept { return Py_IS_TYPE(obj, &PyBytes_Type) || PyBytes_Check(obj); }

std::string_view bytes_view(PyObject* obj) noexcept {
  char* data = nullptr;
  Py_ssize_t size = 0;
  PyBytes_AsStringAndSize(obj, &data, &size);  // cannot fail for a bytes object
  return {data, static_cast<std::size_t>(size)};
}

// Reads the object argument `obj` of kind K into `out`; the arguments the
// call frame converts are left as they are. A failure is returned.
template <proto::SpanArgumentKind K, class T>
std::optional<PyFailure> read_object([[maybe_unused]] PyObject* obj, [[maybe_unused]] T& out,
                                     [[maybe_unused]] Arena& arena, [[maybe_unused]] std::vector<Ref>& keep) {
  using Kind = proto::SpanArgumentKind;
  if constexpr (K == Kind::json || K == Kind::opt_json) {
    if (K == Kind::opt_json && obj == Py_None) return std::nullopt;
    auto v = pyobject_to_json(obj, arena, &keep);
    if (!v) return std::move(v).error();
    out = *v;
  } else if constexpr (K == Kind::opt_bytes) {
    auto b = extract_optional_bytes(obj);
    if (!b) return std::move(b).error();
    out = *b;
  }
  return std::nullopt;
}

}  // namespace

PyResult<Ref> build_export_spans_request_bytes(std::string_view observable_service_id,
                                               std::string_view environment, std::string_view sdk_version,
                                               std::string_view sdk_instance_id, PyObject* spans) {
  if (!Py_IS_TYPE(spans, &PyList_Type) && !PyList_Check(spans)) return fail(msg::kSpansNotList);
  // Every element is checked, and held, before any is decoded.
  const Py_ssize_t n = PyList_Size(spans);
  std::vector<Ref> held;
  held.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyList_GetItem(spans, i);
    if (item == nullptr) return PyFailure::pending();
    if (!is_bytes(item)) return fail(msg::kSpanNotBytes);
    held.push_back(Ref::borrow(item));
  }
  std::vector<std::string_view> views;
  views.reserve(held.size());
  std::size_t total = 0;
  for (const Ref& r : held) {
    views.push_back(bytes_view(r.get()));
    total += views.back().size();
  }

  Arena arena(total + 256);
  auto request = proto::decode_export_spans(observable_service_id, environment, sdk_version, sdk_instance_id,
                                            views, arena);
  if (!request) return PyFailure::module(std::move(request).error());
  return encode_to_bytes<proto::ExportSpansRequest>(*request, proto::measure_export_spans_request,
                                                    proto::write_export_spans_request);
}

PyResult<Ref> build_span_proto_bytes(proto::SpanArguments& a, std::span<PyObject* const> objects) {
  Arena arena;
  std::vector<Ref> keep;  // str objects whose UTF-8 the JSON values point at
  // The object arguments in parameter order; the first failure ends the call.
  std::size_t i = 0;
#define QUARN_SPAN_ARGUMENT(member, kind, use)                                                       \
  if (auto failed = read_object<proto::SpanArgumentKind::kind>(objects[i++], a.member, arena, keep)) \
    return std::move(*failed);
  QUARN_SPAN_ARGUMENTS(QUARN_SPAN_ARGUMENT)
#undef QUARN_SPAN_ARGUMENT

  auto span = proto::build_span(a, arena);
  if (!span) {
    if (auto* bad = std::get_if<proto::InvalidEnum>(&span.error()))
      return PyFailure::value_error(std::move(bad->message));
    return PyFailure::module(std::get<ModuleError>(std::move(span).error()));
  }
  return encode_to_bytes<proto::Span>(*span, proto::measure_span, proto::write_span);
}

}  // namespace quarn::pybridge
