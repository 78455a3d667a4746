// Every text that leaves the module in an exception, and the name of the
// exception class it creates.
//
// These texts are part of the module's interface: callers match on them
// (class names, message prefixes, whole messages), and the tests hold each one
// character for character. Change none of them; a new failure gets a new
// text here. Texts with %-directives are format strings of PyErr_Format.
#pragma once

namespace quarn::msg {

// ---- error kinds (base/result.h) -------------------------------------------
inline constexpr const char* kInvalidJsonPrefix = "invalid json: ";
inline constexpr const char* kSerializationPrefix = "serialization error: ";

// ---- the call frame ----------------------------------------------------------
// The internal-failure exception: its class prints under this name and derives
// from BaseException. There is no module of that name to import it from.
inline constexpr const char* kPanicClass = "pyo3_runtime.PanicException";
inline constexpr const char* kPanicDoc =
    "The exception raised when the module hits an internal failure.\n\n"
    "It derives from BaseException, not Exception, so that it propagates like SystemExit "
    "instead of being caught by handlers of ordinary errors.";
inline constexpr const char* kPanicUnknown = "panic from Rust code";  // a C++ exception of no known type
inline constexpr const char* kPanicWithoutError = "failure reported without an exception";
inline constexpr const char* kApiFailed =
    "Python API call failed";  // the interpreter could not create an object
inline constexpr const char* kPanicReport = "quarn_core: internal failure in %s(): %.*s\n";  // to stderr
inline constexpr const char* kPanicFailed = "uncaught panic at ffi boundary\n";  // to stderr, then abort
inline constexpr const char* kInitTwice =
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process";

// Binding (TypeError).
inline constexpr const char* kTooManyPositional = "%s() takes %zu positional arguments but %zd %s given";
inline constexpr const char* kMultipleValues = "%s() got multiple values for argument '%s'";
inline constexpr const char* kUnexpectedKeyword = "%s() got an unexpected keyword argument '%S'";
inline constexpr const char* kMissingArguments = "%s() missing %zu required positional argument%s: %s";

// Conversion of parameters (TypeError unless said otherwise).
inline constexpr const char* kArgumentPrefix = "argument '%s': %U";
inline constexpr const char* kCannotCast = "'%s' object cannot be cast as '%s'";
inline constexpr const char* kInt32Overflow = "Python int too large to convert to C int";  // OverflowError
inline constexpr const char* kNoBoolConversion =
    "object of type '%s' does not define a '__bool__' conversion";
inline constexpr const char* kBoolNotBool = "__bool__ should return bool, returned %s";
inline constexpr const char* kUnknownTypeName = "<failed to extract type name>";

// ---- interpreter objects as JSON values (src/pybridge) ---------------------
inline constexpr const char* kUnsupportedValue = "unsupported value type for Rust export payload processing";
inline constexpr const char* kObjectTooDeep =  // RecursionError
    "maximum nesting depth of 512 exceeded while converting a Python object";
inline constexpr const char* kKeyNotStr = "' object cannot be cast as 'str'";  // after "'" + type name
inline constexpr const char* kDictChangedSize = "dictionary changed size during iteration";  // PanicException
inline constexpr const char* kDictKeysChanged = "dictionary keys changed during iteration";  // PanicException
inline constexpr const char* kExpectedBytes = "expected bytes or None";
inline constexpr const char* kSpansNotList = "spans must be a list of bytes";
inline constexpr const char* kSpanNotBytes = "each span must be bytes";
inline constexpr const char* kExceptionStrFailed = "<exception str() failed>";

// ---- the JSON parser (src/json), followed by " at line L column C" --------
inline constexpr const char* kEofList = "EOF while parsing a list";
inline constexpr const char* kEofObject = "EOF while parsing an object";
inline constexpr const char* kEofString = "EOF while parsing a string";
inline constexpr const char* kEofValue = "EOF while parsing a value";
inline constexpr const char* kExpectedColon = "expected `:`";
inline constexpr const char* kExpectedListEnd = "expected `,` or `]`";
inline constexpr const char* kExpectedObjectEnd = "expected `,` or `}`";
inline constexpr const char* kExpectedIdent = "expected ident";
inline constexpr const char* kExpectedValue = "expected value";
inline constexpr const char* kInvalidEscape = "invalid escape";
inline constexpr const char* kInvalidNumber = "invalid number";
inline constexpr const char* kOutOfRange = "number out of range";
inline constexpr const char* kControlChar =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr const char* kKeyMustBeString = "key must be a string";
inline constexpr const char* kLoneSurrogate = "lone leading surrogate in hex escape";
inline constexpr const char* kTrailingComma = "trailing comma";
inline constexpr const char* kTrailingChars = "trailing characters";
inline constexpr const char* kEndOfHexEscape = "unexpected end of hex escape";
inline constexpr const char* kRecursionLimit = "recursion limit exceeded";

// ---- merge rules (src/payload): HEAD + FOUND + TAIL ------------------------
inline constexpr const char* kInvalidType = "invalid type: ";
inline constexpr const char* kInvalidValue = "invalid value: ";
inline constexpr const char* kExpectedMap = ", expected a map";
inline constexpr const char* kExpectedMergeRule = ", expected struct MergeRule";
inline constexpr const char* kExpectedI32 = ", expected i32";
inline constexpr const char* kExpectedF64 = ", expected f64";
inline constexpr const char* kDuplicateField = "duplicate field `";  // + name + "`"
// FOUND, the offending value: a scalar's text follows the integer, double and
// string heads, then "`" (or, for a string, its escaped text and "\"").
inline constexpr const char* kFoundSequence = "sequence";
inline constexpr const char* kFoundMap = "map";
inline constexpr const char* kFoundNull = "null";
inline constexpr const char* kFoundTrue = "boolean `true`";
inline constexpr const char* kFoundFalse = "boolean `false`";
inline constexpr const char* kFoundInteger = "integer `";
inline constexpr const char* kFoundDouble = "floating point `";
inline constexpr const char* kFoundString = "string \"";

// ---- protocol buffers (src/proto) --------------------------------------------
inline constexpr const char* kDecodeFailed = "failed to decode Protobuf message: ";  // + path + reason
inline constexpr const char* kSpanDecodeFailed = "failed to decode span proto bytes: ";
inline constexpr const char* kInvalidVarint = "invalid varint";
inline constexpr const char* kInvalidKey = "invalid key value: ";                  // + key
inline constexpr const char* kInvalidWireTypeValue = "invalid wire type value: ";  // + 6 or 7
inline constexpr const char* kInvalidTag = "invalid tag value: 0";
inline constexpr const char* kBufferUnderflow = "buffer underflow";
inline constexpr const char* kNotUtf8 = "invalid string value: data is not UTF-8 encoded";
inline constexpr const char* kInvalidWireType =
    "invalid wire type: ";  // + found + " (expected " + expected + ")"
inline constexpr const char* kWireRecursionLimit = "recursion limit reached";
inline constexpr const char* kUnexpectedEndGroup = "unexpected end group tag";
inline constexpr const char* kDelimitedExceeded = "delimited length exceeded";

// ---- the span builder (ValueError, no prefix): head + argument + tail + value
inline constexpr const char* kInvalidEnumHead = "invalid ";
inline constexpr const char* kInvalidEnumTail = " enum: ";

}  // namespace quarn::msg
