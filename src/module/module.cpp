// The module object, its function table and the nine entries.
//
// Each entry binds and converts its arguments (module/frame.h), runs its body
// and turns the body's result into new interpreter objects, or its failure
// into an exception. Entries are the only places that raise.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "json/canonical.h"
#include "module/frame.h"
#include "payload/export_payload.h"
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

// ---- parameter lists -------------------------------------------------------

constexpr Param kPayloadJson[] = {{"payload_json", ParamKind::Text}};
constexpr Param kProcessExportPayload[] = {{"payload_json", ParamKind::Text},
                                           {"schema_merges_json", ParamKind::OptText}};
constexpr Param kProcessExportPayloadPyobject[] = {{"payload", ParamKind::Object},
                                                   {"schema_merges", ParamKind::OptObject}};
constexpr Param kBuildSpan[] = {
    {"trace_id", ParamKind::Text},
    {"span_id", ParamKind::Text},
    {"parent_span_id", ParamKind::Text},
    {"name", ParamKind::Text},
    {"package_name", ParamKind::Text},
    {"instrumentation_name", ParamKind::Text},
    {"submodule_name", ParamKind::Text},
    {"package_type", ParamKind::Int32},
    {"environment", ParamKind::OptText},
    {"kind", ParamKind::Int32},
    {"input_schema", ParamKind::Object},
    {"output_schema", ParamKind::Object},
    {"input_schema_hash", ParamKind::Text},
    {"output_schema_hash", ParamKind::Text},
    {"input_value_hash", ParamKind::Text},
    {"output_value_hash", ParamKind::Text},
    {"status_code", ParamKind::Int32},
    {"status_message", ParamKind::Text},
    {"is_pre_app_start", ParamKind::Bool},
    {"is_root_span", ParamKind::Bool},
    {"timestamp_seconds", ParamKind::Int64},
    {"timestamp_nanos", ParamKind::Int32},
    {"duration_seconds", ParamKind::Int64},
    {"duration_nanos", ParamKind::Int32},
    {"metadata", ParamKind::OptObject},
    {"input_value", ParamKind::OptObject},
    {"output_value", ParamKind::OptObject},
    {"input_value_proto_struct_bytes", ParamKind::OptObject},
    {"output_value_proto_struct_bytes", ParamKind::OptObject},
};
constexpr Param kBuildExportRequest[] = {{"observable_service_id", ParamKind::Text},
                                         {"environment", ParamKind::Text},
                                         {"sdk_version", ParamKind::Text},
                                         {"sdk_instance_id", ParamKind::Text},
                                         {"spans", ParamKind::Object}};

// Converts every parameter of the kinds text / int / bool into `Converted`
// storage, in parameter order; object parameters stay in their slots.
struct Converted {
  std::string_view text[32];
  std::optional<std::string_view> opt_text[32];
  std::int64_t integer[32] = {};
  bool flag[32] = {};
};

bool convert_all(const Signature& sig, Ref* slots, Converted& c) {
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    const Param& p = sig.params[i];
    PyObject* obj = slots[i].get();
    switch (p.kind) {
      case ParamKind::Text:
        if (!frame::to_text(p, obj, c.text[i])) return false;
        break;
      case ParamKind::OptText:
        if (!frame::to_opt_text(p, obj, c.opt_text[i])) return false;
        break;
      case ParamKind::Int32: {
        std::int32_t v;
        if (!frame::to_int32(p, obj, v)) return false;
        c.integer[i] = v;
        break;
      }
      case ParamKind::Int64:
        if (!frame::to_int64(p, obj, c.integer[i])) return false;
        break;
      case ParamKind::Bool:
        if (!frame::to_bool(p, obj, c.flag[i])) return false;
        break;
      case ParamKind::Object:
      case ParamKind::OptObject: break;
    }
  }
  return true;
}

// ---- entries ---------------------------------------------------------------

template <std::size_t N>
constexpr Signature signature(const char* function, const Param (&params)[N]) {
  return Signature{function, std::span<const Param>(params, N)};
}

PyObject* normalize_json(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig = signature("normalize_json", kPayloadJson);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[1];
    std::string_view text;
    if (!frame::bind(sig, args, kwargs, slots) || !frame::to_text(sig.params[0], slots[0].get(), text))
      return nullptr;
    auto r = json::canonical_json_text(text);
    if (!r) return frame::raise(r.error());
    return frame::result(new_str(r->view()), sig.function);
  });
}

PyObject* deterministic_hash(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig = signature("deterministic_hash", kPayloadJson);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[1];
    std::string_view text;
    if (!frame::bind(sig, args, kwargs, slots) || !frame::to_text(sig.params[0], slots[0].get(), text))
      return nullptr;
    auto r = json::deterministic_hash(text);
    if (!r) return frame::raise(r.error());
    return frame::result(new_str(as_view(*r)), sig.function);
  });
}

PyObject* normalize_and_hash(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig = signature("normalize_and_hash", kPayloadJson);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[1];
    std::string_view text;
    if (!frame::bind(sig, args, kwargs, slots) || !frame::to_text(sig.params[0], slots[0].get(), text))
      return nullptr;
    auto r = json::normalize_and_hash(text);
    if (!r) return frame::raise(r.error());
    return frame::result(new_tuple<2>({new_str(r->first.view()), new_str(as_view(r->second))}), sig.function);
  });
}

PyObject* object_to_protobuf_struct_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig = signature("object_to_protobuf_struct_bytes", kPayloadJson);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[1];
    std::string_view text;
    if (!frame::bind(sig, args, kwargs, slots) || !frame::to_text(sig.params[0], slots[0].get(), text))
      return nullptr;
    Arena arena(text.size() + 256);
    auto r = json::parse_normalized(text, arena);
    if (!r) return frame::raise(r.error());
    return frame::result(pybridge::struct_bytes_object(*r).release(), sig.function);
  });
}

PyObject* object_to_protobuf_struct_field_count(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig = signature("object_to_protobuf_struct_field_count", kPayloadJson);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[1];
    std::string_view text;
    if (!frame::bind(sig, args, kwargs, slots) || !frame::to_text(sig.params[0], slots[0].get(), text))
      return nullptr;
    auto r = proto::object_to_protobuf_struct_field_count(text);
    if (!r) return frame::raise(r.error());
    return frame::result(PyLong_FromUnsignedLong(*r), sig.function);
  });
}

PyObject* process_export_payload(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig = signature("process_export_payload", kProcessExportPayload);
  return frame::guard(sig.function, [&]() -> PyObject* {
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
  static constexpr Signature sig =
      signature("process_export_payload_pyobject", kProcessExportPayloadPyobject);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[2];
    if (!frame::bind(sig, args, kwargs, slots)) return nullptr;
    auto r = pybridge::process_export_payload_pyobject(slots[0].get(), frame::to_opt_object(slots[1].get()));
    if (!r) return frame::raise(r.error(), sig.function);
    return r->release();
  });
}

PyObject* build_span_proto_bytes_pyobject(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig = signature("build_span_proto_bytes_pyobject", kBuildSpan);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[29];
    Converted c;
    if (!frame::bind(sig, args, kwargs, slots) || !convert_all(sig, slots, c)) return nullptr;
    proto::SpanArguments a;
    a.trace_id = c.text[0];
    a.span_id = c.text[1];
    a.parent_span_id = c.text[2];
    a.name = c.text[3];
    a.package_name = c.text[4];
    a.instrumentation_name = c.text[5];
    a.submodule_name = c.text[6];
    a.package_type = static_cast<std::int32_t>(c.integer[7]);
    a.environment = c.opt_text[8];
    a.kind = static_cast<std::int32_t>(c.integer[9]);
    a.input_schema_hash = c.text[12];
    a.output_schema_hash = c.text[13];
    a.input_value_hash = c.text[14];
    a.output_value_hash = c.text[15];
    a.status_code = static_cast<std::int32_t>(c.integer[16]);
    a.status_message = c.text[17];
    a.is_pre_app_start = c.flag[18];
    a.is_root_span = c.flag[19];
    a.timestamp_seconds = c.integer[20];
    a.timestamp_nanos = static_cast<std::int32_t>(c.integer[21]);
    a.duration_seconds = c.integer[22];
    a.duration_nanos = static_cast<std::int32_t>(c.integer[23]);
    const pybridge::SpanObjects objects{
        slots[10].get(),
        slots[11].get(),
        frame::to_opt_object(slots[24].get()),
        frame::to_opt_object(slots[25].get()),
        frame::to_opt_object(slots[26].get()),
        frame::to_opt_object(slots[27].get()),
        frame::to_opt_object(slots[28].get()),
    };
    auto r = pybridge::build_span_proto_bytes(a, objects);
    if (!r) return frame::raise(r.error(), sig.function);
    return frame::result(r->release(), sig.function);
  });
}

PyObject* build_export_spans_request_bytes_pyobject(PyObject*, PyObject* args, PyObject* kwargs) {
  static constexpr Signature sig =
      signature("build_export_spans_request_bytes_pyobject", kBuildExportRequest);
  return frame::guard(sig.function, [&]() -> PyObject* {
    Ref slots[5];
    Converted c;
    if (!frame::bind(sig, args, kwargs, slots) || !convert_all(sig, slots, c)) return nullptr;
    auto r = pybridge::build_export_spans_request_bytes(c.text[0], c.text[1], c.text[2], c.text[3],
                                                        slots[4].get());
    if (!r) return frame::raise(r.error(), sig.function);
    return frame::result(r->release(), sig.function);
  });
}

// ---- module ------------------------------------------------------------------

// clang-format off
// `fn` is stringized and named, `doc` concatenated: no parentheses possible.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QUARN_ENTRY(fn, doc) \
  PyMethodDef { #fn, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(&fn)), METH_VARARGS | METH_KEYWORDS, doc "\n--\n\n" }
// NOLINTEND(bugprone-macro-parentheses)

// Registration order; also the order of __all__.
PyMethodDef g_functions[] = {
    QUARN_ENTRY(normalize_json, "normalize_json(payload_json)"),
    QUARN_ENTRY(deterministic_hash, "deterministic_hash(payload_json)"),
    QUARN_ENTRY(normalize_and_hash, "normalize_and_hash(payload_json)"),
    QUARN_ENTRY(object_to_protobuf_struct_bytes, "object_to_protobuf_struct_bytes(payload_json)"),
    QUARN_ENTRY(object_to_protobuf_struct_field_count, "object_to_protobuf_struct_field_count(payload_json)"),
    QUARN_ENTRY(process_export_payload, "process_export_payload(payload_json, schema_merges_json)"),
    QUARN_ENTRY(process_export_payload_pyobject, "process_export_payload_pyobject(payload, schema_merges)"),
    QUARN_ENTRY(build_span_proto_bytes_pyobject,
                "build_span_proto_bytes_pyobject(trace_id, span_id, parent_span_id, name, package_name, "
                "instrumentation_name, submodule_name, package_type, environment, kind, input_schema, "
                "output_schema, input_schema_hash, output_schema_hash, input_value_hash, output_value_hash, "
                "status_code, status_message, is_pre_app_start, is_root_span, timestamp_seconds, "
                "timestamp_nanos, duration_seconds, duration_nanos, metadata, input_value, output_value, "
                "input_value_proto_struct_bytes, output_value_proto_struct_bytes)"),
    QUARN_ENTRY(build_export_spans_request_bytes_pyobject,
                "build_export_spans_request_bytes_pyobject(observable_service_id, environment, sdk_version, "
                "sdk_instance_id, spans)"),
};

#undef QUARN_ENTRY
// clang-format on

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
