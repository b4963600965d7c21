#include "json/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/utf8.h"

namespace tarvix {
namespace {

// Builds the tree through the library's own DOM builder, but stops the
// parse as soon as the nesting or value limit is passed, so a hostile body
// never builds a deep or huge tree.
class BoundedDomBuilder {
 public:
  explicit BoundedDomBuilder(Json* root) : dom_(*root, /*allow_exceptions=*/false) {}

  bool null() { return Count() && dom_.null(); }
  bool boolean(bool v) { return Count() && dom_.boolean(v); }
  bool number_integer(Json::number_integer_t v) { return Count() && dom_.number_integer(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return Count() && dom_.number_unsigned(v); }
  bool number_float(Json::number_float_t v, const std::string& text) {
    return Count() && dom_.number_float(v, text);
  }
  bool string(std::string& v) { return Count() && dom_.string(v); }
  bool binary(Json::binary_t& v) { return Count() && dom_.binary(v); }
  bool start_object(size_t n) { return Open() && dom_.start_object(n); }
  bool key(std::string& v) { return dom_.key(v); }
  bool end_object() { --depth_; return dom_.end_object(); }
  bool start_array(size_t n) { return Open() && dom_.start_array(n); }
  bool end_array() { --depth_; return dom_.end_array(); }
  template <typename Exception>
  bool parse_error(size_t, const std::string&, const Exception&) {
    return false;
  }

 private:
  bool Count() { return ++values_ <= kMaxJsonValues; }
  bool Open() { return Count() && ++depth_ < kMaxJsonDepth; }

  nlohmann::detail::json_sax_dom_parser<Json> dom_;
  size_t values_ = 0;
  int depth_ = 0;
};

// Feeds the parser a text with every run of JSON whitespace outside string
// literals cut to one space. The library's lexer keeps every character it
// reads between two scalar tokens for its error messages, so a body padded
// with whitespace would otherwise be held twice. Within the value cap the
// characters between scalars are then few.
class CollapsedWhitespaceInput {
 public:
  using char_type = char;

  explicit CollapsedWhitespaceInput(std::string_view text) : text_(text) {}

  std::char_traits<char>::int_type get_character() {
    if (next_ == text_.size()) return std::char_traits<char>::eof();
    const char c = text_[next_++];
    if (in_string_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        in_string_ = false;
      }
    } else if (c == '"') {
      in_string_ = true;
    } else if (IsJsonSpace(c)) {
      while (next_ < text_.size() && IsJsonSpace(text_[next_])) ++next_;
    }
    return std::char_traits<char>::to_int_type(c);
  }

 private:
  static bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  std::string_view text_;
  size_t next_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;
};

// True when any byte of `word` is a control character, '"' or '\\'.
bool NeedsEscape(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const uint64_t below_space = (word - kOnes * 0x20) & ~word;
  const uint64_t quote = word ^ (kOnes * '"');
  const uint64_t backslash = word ^ (kOnes * '\\');
  const uint64_t has_quote = (quote - kOnes) & ~quote;
  const uint64_t has_backslash = (backslash - kOnes) & ~backslash;
  return ((below_space | has_quote | has_backslash) & kHigh) != 0;
}

// Writes a string of valid UTF-8: long runs that need no escape (file
// contents, command output, encoded images) are copied in bulk.
void AppendEscaped(std::string_view text, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  size_t run_start = 0;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    if (n - i >= 8) {
      uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (!NeedsEscape(word)) {
        i += 8;
        continue;
      }
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    out->append(text.data() + run_start, i - run_start);
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\b': out->append("\\b"); break;
      case '\t': out->append("\\t"); break;
      case '\n': out->append("\\n"); break;
      case '\f': out->append("\\f"); break;
      case '\r': out->append("\\r"); break;
      default: {
        const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out->append(escape, 6);
      }
    }
    run_start = ++i;
  }
  out->append(text.data() + run_start, n - run_start);
  out->push_back('"');
}

void AppendString(const std::string& text, std::string* out) {
  if (IsValidUtf8(text)) {
    AppendEscaped(text, out);
  } else {
    AppendEscaped(LossyUtf8(std::string_view(text)), out);
  }
}

}  // namespace

void AppendJsonText(const Json& value, std::string* out) {
  char number[64];
  switch (value.type()) {
    case Json::value_t::null:
      out->append("null");
      return;
    case Json::value_t::boolean:
      out->append(value.get<bool>() ? "true" : "false");
      return;
    case Json::value_t::number_integer: {
      const auto end = std::to_chars(number, number + sizeof number, value.get<int64_t>()).ptr;
      out->append(number, end);
      return;
    }
    case Json::value_t::number_unsigned: {
      const auto end = std::to_chars(number, number + sizeof number, value.get<uint64_t>()).ptr;
      out->append(number, end);
      return;
    }
    case Json::value_t::number_float: {
      const double x = value.get<double>();
      if (!std::isfinite(x)) {
        out->append("null");
        return;
      }
      // The JSON library's shortest round-trip form (1.0, 0.1), with its
      // exponent written bare: "1e+100" as 1e100, "1e-07" as 1e-7.
      char* end = nlohmann::detail::to_chars(number, number + sizeof number, x);
      char* exponent = std::find(number, end, 'e');
      if (exponent != end) {
        char* write = exponent + 1;
        const char* read = write;
        if (*read == '+') {
          ++read;
        } else if (*read == '-') {
          ++read;
          ++write;
        }
        while (read + 1 < end && *read == '0') ++read;
        const size_t digits = static_cast<size_t>(end - read);
        std::memmove(write, read, digits);
        end = write + digits;
      }
      out->append(number, static_cast<size_t>(end - number));
      return;
    }
    case Json::value_t::string:
      AppendString(value.get_ref<const std::string&>(), out);
      return;
    case Json::value_t::array: {
      out->push_back('[');
      bool first = true;
      for (const Json& element : value) {
        if (!first) out->push_back(',');
        first = false;
        AppendJsonText(element, out);
      }
      out->push_back(']');
      return;
    }
    case Json::value_t::object: {
      out->push_back('{');
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out->push_back(',');
        first = false;
        AppendString(key, out);
        out->push_back(':');
        AppendJsonText(member, out);
      }
      out->push_back('}');
      return;
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
      break;  // never built by the daemon; the library's own form
  }
  nlohmann::detail::serializer<Json> writer(
      nlohmann::detail::output_adapter<char>(*out), ' ', Json::error_handler_t::replace);
  writer.dump(value, /*pretty_print=*/false, /*ensure_ascii=*/false, /*indent_step=*/0);
}

std::string ToJsonText(const Json& value) {
  std::string out;
  AppendJsonText(value, &out);
  return out;
}

Json ParseJsonOrNull(std::string_view text) {
  // The library skips a leading byte-order mark and takes NUL for the end of
  // the input; neither is JSON whitespace, so such a text is not one value.
  if (text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos) {
    return nullptr;
  }
  Json value;
  BoundedDomBuilder builder(&value);
  nlohmann::detail::parser<Json, CollapsedWhitespaceInput> parser(
      CollapsedWhitespaceInput(text), /*cb=*/nullptr, /*allow_exceptions=*/false,
      /*skip_comments=*/false);
  const bool parsed = parser.sax_parse(&builder, /*strict=*/true);
  if (!parsed || value.is_discarded()) return nullptr;
  return value;
}

}  // namespace tarvix
