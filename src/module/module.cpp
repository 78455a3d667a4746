// The module object, its function table and the nine entries.
//
// Each entry binds and converts its arguments (module/frame.h), runs its body
// and turns the body's result into new interpreter objects, or its failure
// into an exception. Entries are the only places that raise.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/spare.h"
#include "json/canonical.h"
#include "module/frame.h"
#include "payload/export_payload.h"
#include "proto/span_builder.h"
#include "proto/struct.h"
#include "pybridge/convert.h"
#include "pybridge/object_payload.h"
#include "pybridge/span_calls.h"

namespace quarn {
namespace {

using frame::Param;
using frame::ParamKind;
using frame::Signature;

PyObject* new_str(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// A tuple of new objects; steals each item. Null if any item or the tuple is null.
template <std::size_t N>
PyObject* new_tuple(std::array<PyObject*, N> items) {
  Ref tuple = Ref::steal(PyTuple_New(N));
  bool ok = static_cast<bool>(tuple);
  for (std::size_t i = 0; i < N; ++i) {
    if (items[i] == nullptr) ok = false;
    if (ok) PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), items[i]);
    else Ref::steal(items[i]).reset();
  }
  return ok ? tuple.release() : nullptr;
}

// ---- the functions' descriptions ---------------------------------------------
//
// Each function's name and parameters, said once: the binding reads them, and
// the doc's text signature is made from them.

constexpr Param kPayloadJson[] = {{"payload_json", ParamKind::Text}};
constexpr Param kProcessExportPayload[] = {{"payload_json", ParamKind::Text},
                                           {"schema_merges_json", ParamKind::OptText}};
constexpr Param kProcessExportPayloadPyobject[] = {{"payload", ParamKind::Object},
                                                   {"schema_merges", ParamKind::OptObject}};
constexpr Param kBuildExportRequest[] = {{"observable_service_id", ParamKind::Text},
                                         {"environment", ParamKind::Text},
                                         {"sdk_version", ParamKind::Text},
                                         {"sdk_instance_id", ParamKind::Text},
                                         {"spans", ParamKind::Object}};

// The span builder's parameters are its arguments (proto/span_fields.h).
constexpr ParamKind param_kind(proto::SpanArgumentKind kind) {
  switch (kind) {
    case proto::SpanArgumentKind::text: return ParamKind::Text;
    case proto::SpanArgumentKind::opt_text: return ParamKind::OptText;
    case proto::SpanArgumentKind::int32: return ParamKind::Int32;
    case proto::SpanArgumentKind::int64: return ParamKind::Int64;
    case proto::SpanArgumentKind::flag: return ParamKind::Bool;
    case proto::SpanArgumentKind::json: return ParamKind::Object;
    case proto::SpanArgumentKind::opt_json:
    case proto::SpanArgumentKind::opt_bytes: return ParamKind::OptObject;
  }
  return ParamKind::Object;
}
constexpr std::array<Param, std::size(proto::kSpanArguments)> kBuildSpan = [] {
  std::array<Param, std::size(proto::kSpanArguments)> params{};
  for (std::size_t i = 0; i < params.size(); ++i)
    params[i] = Param{proto::kSpanArguments[i].name, param_kind(proto::kSpanArguments[i].kind)};
  return params;
}();

constexpr Signature kNormalizeJson{"normalize_json", kPayloadJson};
constexpr Signature kDeterministicHash{"deterministic_hash", kPayloadJson};
constexpr Signature kNormalizeAndHash{"normalize_and_hash", kPayloadJson};
constexpr Signature kObjectToStructBytes{"object_to_protobuf_struct_bytes", kPayloadJson};
constexpr Signature kObjectToStructFieldCount{"object_to_protobuf_struct_field_count", kPayloadJson};
constexpr Signature kProcessExportPayloadSig{"process_export_payload", kProcessExportPayload};
constexpr Signature kProcessExportPayloadPyobjectSig{"process_export_payload_pyobject",
                                                     kProcessExportPayloadPyobject};
constexpr Signature kBuildSpanSig{"build_span_proto_bytes_pyobject", kBuildSpan};
constexpr Signature kBuildExportRequestSig{"build_export_spans_request_bytes_pyobject", kBuildExportRequest};

// ---- entries -------------------------------------------------------------------

// Binds the one text parameter of `sig` and converts it; the text is valid
// while `slot` holds its object.
bool bind_text(const Signature& sig, PyObject* args, PyObject* kwargs, Ref& slot, std::string_view& text) {
  return frame::bind(sig, args, kwargs, &slot) && frame::to_text(sig.params[0], slot.get(), text);
}

// An entry of one text parameter: `body(text)` gives a result or a failure,
// and `make(value)` the result's new object.
template <class Body, class Make>
PyObject* text_entry(const Signature& sig, PyObject* args, PyObject* kwargs, Body&& body, Make&& make) {
  return frame::guard(sig.function, [&]() -> PyObject* {
    // The working blocks of a text entry are done once its result exists;
    // large ones are kept for the next call (see spare.h).
    spare::KeepBlocks keep;
    Ref slot;
    std::string_view text;
    if (!bind_text(sig, args, kwargs, slot, text)) return nullptr;
    auto r = body(text);
    if (!r) return frame::raise(r.error());
    return frame::result(make(*r), sig.function);
  });
}

PyObject* normalize_json(PyObject*, PyObject* args, PyObject* kwargs) {
  return text_entry(
      kNormalizeJson, args, kwargs, [](std::string_view text) { return json::canonical_json_text(text); },
      [](const Buffer& text) { return new_str(text.view()); });
}

PyObject* deterministic_hash(PyObject*, PyObject* args, PyObject* kwargs) {
  return text_entry(
      kDeterministicHash, args, kwargs, [](std::string_view text) { return json::deterministic_hash(text); },
      [](const HashText& hash) { return new_str(as_view(hash)); });
}

PyObject* normalize_and_hash(PyObject*, PyObject* args, PyObject* kwargs) {
  return text_entry(
      kNormalizeAndHash, args, kwargs, [](std::string_view text) { return json::normalize_and_hash(text); },
      [](const std::pair<Buffer, HashText>& both) {
        return new_tuple<2>({new_str(both.first.view()), new_str(as_view(both.second))});
      });
}

PyObject* object_to_protobuf_struct_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
  return frame::guard(kObjectToStructBytes.function, [&]() -> PyObject* {
    const Signature& sig = kObjectToStructBytes;
    Ref slot;
    std::string_view text;
    if (!bind_text(sig, args, kwargs, slot, text)) return nullptr;
    Arena arena(text.size() + 256);
    auto r = json::parse_normalized(text, arena);
    if (!r) return frame::raise(r.error());
    return frame::result(pybridge::struct_bytes_object(*r).release(), sig.function);
  });
}

PyObject* object_to_protobuf_struct_field_count(PyObject*, PyObject* args, PyObject* kwargs) {
  return text_entry(
      kObjectToStructFieldCount, args, kwargs,
      [](std::string_view text) { return proto::object_to_protobuf_struct_field_count(text); },
      [](std::uint32_t count) { return PyLong_FromUnsignedLong(count); });
}

PyObject* process_export_payload(PyObject*, PyObject* args, PyObject* kwargs) {
  return frame::guard(kProcessExportPayloadSig.function, [&]() -> PyObject* {
    const Signature& sig = kProcessExportPayloadSig;
    Ref slots[2];
    std::string_view payload;
    std::optional<std::string_view> merges;
    if (!frame::bind(sig, args, kwargs, slots) || !frame::to_text(sig.params[0], slots[0].get(), payload) ||
        !frame::to_opt_text(sig.params[1], slots[1].get(), merges))
      return nullptr;
    auto r = payload::process_export_payload(payload, merges);
    if (!r) return frame::raise(r.error());
    return frame::result(new_tuple<6>({new_str(r->normalized_text()), new_str(r->merged_text()),
                                       new_str(as_view(r->value_hash)), new_str(r->schema_text()),
                                       new_str(as_view(r->schema_hash)),
                                       pybridge::struct_bytes_object(r->normalized).release()}),
                         sig.function);
  });
}

PyObject* process_export_payload_pyobject(PyObject*, PyObject* args, PyObject* kwargs) {
  return frame::guard(kProcessExportPayloadPyobjectSig.function, [&]() -> PyObject* {
    const Signature& sig = kProcessExportPayloadPyobjectSig;
    Ref slots[2];
    if (!frame::bind(sig, args, kwargs, slots)) return nullptr;
    auto r = pybridge::process_export_payload_pyobject(slots[0].get(), frame::to_opt_object(slots[1].get()));
    if (!r) return frame::raise(r.error(), sig.function);
    return r->release();
  });
}

// Converts the span builder's arguments of the kinds the frame converts
// (texts, integers, flags) into `a`, in parameter order; the object arguments
// are the bridge's to read.
template <proto::SpanArgumentKind K, class T>
bool convert_argument([[maybe_unused]] const Param& p, [[maybe_unused]] PyObject* obj,
                      [[maybe_unused]] T& out) {
  using Kind = proto::SpanArgumentKind;
  if constexpr (K == Kind::text) return frame::to_text(p, obj, out);
  else if constexpr (K == Kind::opt_text) return frame::to_opt_text(p, obj, out);
  else if constexpr (K == Kind::int32) return frame::to_int32(p, obj, out);
  else if constexpr (K == Kind::int64) return frame::to_int64(p, obj, out);
  else if constexpr (K == Kind::flag) return frame::to_bool(p, obj, out);
  else return true;
}

bool convert_span_arguments(const Ref* slots, proto::SpanArguments& a) {
  std::size_t i = 0;
#define QUARN_SPAN_ARGUMENT(member, kind, use)                                                   \
  if (!convert_argument<proto::SpanArgumentKind::kind>(kBuildSpan[i], slots[i].get(), a.member)) \
    return false;                                                                                \
  ++i;
  QUARN_SPAN_ARGUMENTS(QUARN_SPAN_ARGUMENT)
#undef QUARN_SPAN_ARGUMENT
  return true;
}

PyObject* build_span_proto_bytes_pyobject(PyObject*, PyObject* args, PyObject* kwargs) {
  return frame::guard(kBuildSpanSig.function, [&]() -> PyObject* {
    const Signature& sig = kBuildSpanSig;
    Ref slots[kBuildSpan.size()];
    proto::SpanArguments a;
    if (!frame::bind(sig, args, kwargs, slots) || !convert_span_arguments(slots, a)) return nullptr;
    PyObject* objects[kBuildSpan.size()];
    for (std::size_t i = 0; i < kBuildSpan.size(); ++i) objects[i] = slots[i].get();
    auto r = pybridge::build_span_proto_bytes(a, objects);
    if (!r) return frame::raise(r.error(), sig.function);
    return frame::result(r->release(), sig.function);
  });
}

PyObject* build_export_spans_request_bytes_pyobject(PyObject*, PyObject* args, PyObject* kwargs) {
  return frame::guard(kBuildExportRequestSig.function, [&]() -> PyObject* {
    const Signature& sig = kBuildExportRequestSig;
    Ref slots[5];
    std::string_view text[4];
    if (!frame::bind(sig, args, kwargs, slots)) return nullptr;
    for (std::size_t i = 0; i < 4; ++i)
      if (!frame::to_text(sig.params[i], slots[i].get(), text[i])) return nullptr;
    auto r = pybridge::build_export_spans_request_bytes(text[0], text[1], text[2], text[3], slots[4].get());
    if (!r) return frame::raise(r.error(), sig.function);
    return frame::result(r->release(), sig.function);
  });
}

// ---- module ------------------------------------------------------------------

struct Function {
  const Signature* sig;
  PyObject* (*entry)(PyObject*, PyObject*, PyObject*);
};

// Registration order; also the order of __all__.
constexpr Function kFunctions[] = {
    {&kNormalizeJson, normalize_json},
    {&kDeterministicHash, deterministic_hash},
    {&kNormalizeAndHash, normalize_and_hash},
    {&kObjectToStructBytes, object_to_protobuf_struct_bytes},
    {&kObjectToStructFieldCount, object_to_protobuf_struct_field_count},
    {&kProcessExportPayloadSig, process_export_payload},
    {&kProcessExportPayloadPyobjectSig, process_export_payload_pyobject},
    {&kBuildSpanSig, build_span_proto_bytes_pyobject},
    {&kBuildExportRequestSig, build_export_spans_request_bytes_pyobject},
};

// The method records, and their docs: the text signature "name(a, b)" and the
// "--" line after which the interpreter looks for no more. Made once, at the
// module's creation, and kept for the process.
PyMethodDef g_functions[std::size(kFunctions)];
std::string g_docs[std::size(kFunctions)];

void describe_functions() {
  for (std::size_t i = 0; i < std::size(kFunctions); ++i) {
    const Signature& sig = *kFunctions[i].sig;
    std::string& doc = g_docs[i];
    doc = sig.function;
    doc += '(';
    for (std::size_t p = 0; p < sig.params.size(); ++p) {
      if (p > 0) doc += ", ";
      doc += sig.params[p].name;
    }
    doc += ")\n--\n\n";
    g_functions[i] = PyMethodDef{
        sig.function, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kFunctions[i].entry)),
        METH_VARARGS | METH_KEYWORDS, doc.c_str()};
  }
}

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "quarn_core", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

bool g_created = false;

// Adds `fn` to the module and its name to __all__.
bool register_function(PyObject* module, PyObject* module_name, PyMethodDef* def) {
  Ref fn = Ref::steal(PyCFunction_NewEx(def, module, module_name));
  if (!fn) return false;
  Ref name = Ref::steal(PyObject_GetAttrString(fn.get(), "__name__"));
  if (!name) return false;
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  if (PyList_Append(all.get(), name.get()) < 0) return false;
  return PyObject_SetAttr(module, name.get(), fn.get()) == 0;
}

PyObject* init_module() {
  if (g_created) {
    PyErr_SetString(PyExc_ImportError, msg::kInitTwice);
    return nullptr;
  }
  describe_functions();
  Ref module = Ref::steal(PyModule_Create2(&g_module, 3));
  if (!module) return nullptr;
  Ref name = Ref::steal(PyModule_GetNameObject(module.get()));
  if (!name) return nullptr;
  for (PyMethodDef& def : g_functions)
    if (!register_function(module.get(), name.get(), &def)) return nullptr;
  g_created = true;
  return module.release();
}

}  // namespace
}  // namespace quarn

PyMODINIT_FUNC PyInit_quarn_core(void) {
  return quarn::frame::guard("PyInit_quarn_core", [] { return quarn::init_module(); });
}
