#include "pybridge/object_payload.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/buffer.h"
#include "json/print.h"
#include "payload/process.h"
#include "pybridge/convert.h"
#include "pybridge/pytype.h"

namespace quarn::pybridge {

namespace {

// The interpreter could not create a result object (only when out of memory).
[[gnu::cold]] PyFailure fail() {
  PyErr_PrintEx(0);
  return PyFailure::panic(msg::kApiFailed);
}

// An exception left pending while the result objects were built becomes the
// Serialization error "<qualified type name>: <str(exc)>".
[[gnu::cold]] PyFailure as_serialization(PyFailure f) {
  if (f.kind != PyFailure::Kind::Pending) return f;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  Ref owned_type = Ref::steal(type), owned_value = Ref::steal(value), owned_tb = Ref::steal(tb);
  std::string message = value != nullptr ? type_name(value) : msg::kUnknownTypeName;
  message += ": ";
  Ref text = Ref::steal(value != nullptr ? PyObject_Str(value) : nullptr);
  Py_ssize_t len = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &len) : nullptr;
  if (utf8 != nullptr) {
    message.append(utf8, static_cast<std::size_t>(len));
  } else {
    PyErr_Clear();
    message += msg::kExceptionStrFailed;
  }
  return PyFailure::module(serialization_error(std::move(message)));
}

PyObject* new_str(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace

PyResult<Ref> process_export_payload_pyobject(PyObject* payload, PyObject* schema_merges) {
  // Long strings of the arguments are read in place; `keep` holds them until
  // the end, after the last use of every value built from them.
  std::vector<Ref> keep;
  Arena arena;
  auto value = pyobject_to_json(payload, arena, &keep);
  if (!value) return std::move(value).error();

  Buffer merges_text;
  std::optional<std::string_view> merges;
  if (schema_merges != nullptr) {
    auto rules = pyobject_to_json(schema_merges, arena, &keep);
    if (!rules) return std::move(rules).error();
    json::print_json(*rules, merges_text);
    merges = merges_text.view();
  }

  auto processed = payload::process_payload_value(*value, merges, arena);
  if (!processed) return PyFailure::module(std::move(processed).error());
  const payload::ProcessedPayload& p = *processed;

  // The normalized payload mostly equals the payload: its strings and numbers
  // are taken over where they do. The schema's names are mostly the payload's.
  PyBuilder objects;
  auto normalized = objects.build(p.normalized_payload, payload);
  if (!normalized) return as_serialization(std::move(normalized).error());
  auto schema = objects.build(p.schema);
  if (!schema) return as_serialization(std::move(schema).error());

  Ref tuple = Ref::steal(PyTuple_New(5));
  if (!tuple) [[unlikely]]
    return fail();
  // Items in order; the first that cannot be created ends it, and the tuple
  // (with its unset slots) and the remaining Refs release the rest.
  auto put = [&](Py_ssize_t i, PyObject* item) {
    if (item == nullptr) [[unlikely]]
      return false;
    PyTuple_SetItem(tuple.get(), i, item);  // steals; cannot fail on a new tuple
    return true;
  };
  if (!put(0, normalized->release()) || !put(1, new_str(as_view(p.value_hash))) ||
      !put(2, schema->release()) || !put(3, new_str(as_view(p.schema_hash))) ||
      !put(4, struct_bytes_object(p.normalized_payload).release())) [[unlikely]]
    return fail();
  return tuple;
}

}  // namespace quarn::pybridge
