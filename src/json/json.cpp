#include "json/json.h"

namespace tarvix {
namespace {

// Deepest array/object nesting of `text`, counting brackets outside string
// literals. Exact for valid JSON; for invalid text the parse fails anyway.
// Runs before the parser so a hostile body never builds a deep tree.
bool NestingWithinLimit(std::string_view text) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"': in_string = true; break;
      case '[':
      case '{':
        if (++depth >= kMaxJsonDepth) return false;
        break;
      case ']':
      case '}': --depth; break;
      default: break;
    }
  }
  return true;
}

}  // namespace

void AppendJsonText(const Json& value, std::string* out) {
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
  if (!NestingWithinLimit(text)) return nullptr;
  Json value = Json::parse(text.begin(), text.end(), /*cb=*/nullptr,
                           /*allow_exceptions=*/false, /*ignore_comments=*/false);
  if (value.is_discarded()) return nullptr;
  return value;
}

}  // namespace tarvix
