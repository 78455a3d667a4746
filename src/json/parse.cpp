#include "json/parse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "json/scan.h"

namespace quarn::json {

namespace {

// A growable stack of trivially copyable records, written in place: the
// members and elements of the containers being read, innermost last. The
// first N records live inside the object, so a small document's containers
// cost no allocation; past them the records move to the heap.
template <class T, std::size_t N>
class ScratchStack {
 public:
  ScratchStack() = default;
  ScratchStack(const ScratchStack&) = delete;
  ScratchStack& operator=(const ScratchStack&) = delete;
  ~ScratchStack() {
    if (data_ != local()) std::free(data_);
  }

  // Constructs the next record in place from `args`.
  template <class... Args>
  QUARN_ALWAYS_INLINE void emplace(Args... args) {
    if (size_ == capacity_) [[unlikely]]
      grow();
    new (data_ + size_) T{args...};
    ++size_;
  }
  std::size_t size() const noexcept { return size_; }
  T* data() noexcept { return data_; }
  void truncate(std::size_t n) noexcept { size_ = n; }

 private:
  T* local() noexcept { return reinterpret_cast<T*>(local_); }

  [[gnu::noinline]] void grow() {
    if (capacity_ > SIZE_MAX / 2 / sizeof(T)) throw std::bad_alloc();
    const std::size_t n = capacity_ * 2;
    void* p;
    if (data_ == local()) {
      p = std::malloc(n * sizeof(T));
      if (p != nullptr) std::memcpy(p, data_, size_ * sizeof(T));
    } else {
      p = std::realloc(data_, n * sizeof(T));
    }
    if (p == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    capacity_ = n;
  }

  alignas(T) unsigned char local_[N * sizeof(T)];
  T* data_ = local();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
};

// Values travel back in registers (a JsonValue is two machine words): writing
// one field by field to memory and reading it back whole stalls the store
// forwarding on every value. A failure is recorded in the reader and in
// `failed_`, and the value returned with it is meaningless.
class Parser {
 public:
  Parser(std::string_view text, Arena& arena, StringStorage strings)
      : r_(text), arena_(arena), borrow_(strings == StringStorage::Borrow) {}

  bool parse_document(JsonValue& out) {
    r_.skip_whitespace();
    out = parse_value(0);
    if (failed_) return false;
    r_.skip_whitespace();
    if (!r_.at_end()) return r_.fail_here(msg::kTrailingChars);
    return true;
  }

  const ParseError& error() const { return r_.error(); }

 private:
  [[gnu::cold]] JsonValue failed(bool) {
    failed_ = true;
    return JsonValue();
  }

  // The value starts at the current byte (whitespace already skipped).
  // Scalars are read in place; containers recurse through parse_array and
  // parse_object, which are not inlined.
  QUARN_ALWAYS_INLINE JsonValue parse_value(int depth) {
    if (r_.at_end()) [[unlikely]]
      return failed(r_.fail_eof(msg::kEofValue));
    switch (r_.peek()) {
      case '"': return parse_string();
      case '{': return parse_object(depth + 1);
      case '[': return parse_array(depth + 1);
      case 'n':
        if (!r_.read_literal("null", 4)) return failed(false);
        return JsonValue::null();
      case 't':
        if (!r_.read_literal("true", 4)) return failed(false);
        return JsonValue::boolean(true);
      case 'f':
        if (!r_.read_literal("false", 5)) return failed(false);
        return JsonValue::boolean(false);
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        JsonNumber n;
        if (!r_.read_number(n)) return failed(false);
        return JsonValue::number(n);
      }
      default: return failed(r_.fail_here(msg::kExpectedValue));
    }
  }

  // A string's content as the value keeps it: a view of the text when it has
  // no escapes and strings may borrow, else a copy in the arena. Null data on
  // failure. `plain` tells whether the content needs no escaping when
  // printed: a string without escapes ended at the first byte that would (its
  // closing quote), so only a decoded one is looked at again.
  QUARN_ALWAYS_INLINE std::string_view read_kept_string(bool& plain) {
    std::string_view s = r_.read_string(scratch_);
    if (s.data() == nullptr) [[unlikely]]
      return s;
    // Escaped strings are decoded into the scratch; the others are views of the text.
    const bool decoded = s.data() == scratch_.data();
    plain = !decoded || detail::scan_string_run(s.data(), s.data() + s.size()) == s.data() + s.size();
    if (borrow_ && !decoded) return s;
    return std::string_view(arena_.copy_bytes(s), s.size());
  }

  QUARN_ALWAYS_INLINE JsonValue parse_string() {
    bool plain = false;
    std::string_view s = read_kept_string(plain);
    if (s.data() == nullptr) [[unlikely]]
      return failed(false);
    const JsonValue v = JsonValue::string_ref(s);
    return plain ? v.plain() : v;
  }

  // Reads the opening bracket of an array or object at `depth`, which must
  // not pass the nesting limit.
  QUARN_ALWAYS_INLINE Step open(const Container& c, int depth) {
    if (depth > kMaxDepth) {
      r_.fail_here(msg::kRecursionLimit);
      return Step::Failed;
    }
    return r_.open(c);
  }

  [[gnu::noinline]] JsonValue parse_array(int depth) {
    Step step = open(kList, depth);
    if (step == Step::Failed) return failed(false);
    if (step == Step::Closed) return JsonValue::array_ref(nullptr, 0);
    const std::size_t base = values_.size();
    do {
      JsonValue v = parse_value(depth);
      if (failed_) [[unlikely]]
        return v;
      values_.emplace(v);
      step = r_.next(kList);
    } while (step == Step::Element);
    if (step == Step::Failed) return failed(false);
    JsonValue out =
        make_array(arena_, std::span<const JsonValue>(values_.data() + base, values_.size() - base));
    values_.truncate(base);
    return out;
  }

  [[gnu::noinline]] JsonValue parse_object(int depth) {
    Step step = open(kObject, depth);
    if (step == Step::Failed) return failed(false);
    if (step == Step::Closed) return JsonValue::object_ref(nullptr, 0);
    const std::size_t base = members_.size();
    bool names_plain = true;
    do {
      if (!r_.at_member_name()) return failed(false);
      bool plain = false;
      const std::string_view name = read_kept_string(plain);
      if (name.data() == nullptr) [[unlikely]]
        return failed(false);
      names_plain &= plain;
      if (!r_.read_colon()) return failed(false);
      const JsonValue v = parse_value(depth);
      if (failed_) [[unlikely]]
        return v;
      members_.emplace(name, v);
      step = r_.next(kObject);
    } while (step == Step::Element);
    if (step == Step::Failed) return failed(false);
    const JsonValue out = make_object(
        arena_, std::span<JsonMember>(members_.data() + base, members_.size() - base), &key_order_);
    members_.truncate(base);
    return names_plain ? out.plain() : out;
  }

  Reader r_;
  Arena& arena_;
  bool borrow_;
  bool failed_ = false;
  std::string scratch_;
  // Room for the members and elements of the open containers of a small
  // document (3 KB of the C stack together).
  ScratchStack<JsonValue, 64> values_;
  ScratchStack<JsonMember, 64> members_;
  KeyOrderMemo key_order_;
};

}  // namespace

Result<JsonValue> parse_json(std::string_view text, Arena& arena, StringStorage strings) {
  Parser p(text, arena, strings);
  JsonValue v;
  if (p.parse_document(v)) return v;
  return to_module_error(ErrorKind::InvalidJson, text, p.error());
}

}  // namespace quarn::json
