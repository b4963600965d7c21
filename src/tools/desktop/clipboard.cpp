#include "tools/desktop/clipboard.h"

#include <optional>
#include <string_view>

#include "base/utf8.h"
#include "json/params.h"

namespace tarvix {
namespace {

// The length of `bytes` without a multi-byte sequence that the end cuts
// short (a transfer stopped at a byte limit).
size_t WithoutCutSequence(std::string_view bytes) {
  for (size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return needed > back ? bytes.size() - back : bytes.size();
  }
  return bytes.size();
}

// The longest prefix of valid UTF-8 `text` of at most `limit` bytes that
// ends on a character boundary.
size_t BoundaryAtOrBefore(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

ToolResult ClipboardReadFrom(const Json& params, const ClipboardReader& read) {
  size_t max_bytes = kDefaultClipboardReadBytes;
  if (FindParam(params, "max_bytes") != nullptr) {
    const std::optional<uint64_t> asked = UnsignedParam(params, "max_bytes");
    if (!asked || *asked == 0 || *asked > kMaxClipboardBytes) {
      return Error("invalid param: max_bytes must be an integer from 1 to 16777216");
    }
    max_bytes = static_cast<size_t>(*asked);
  }
  Result<ClipboardText> got = read(max_bytes);
  if (!got) return Error(std::move(got).error());
  bool truncated = got->truncated;
  std::string& raw = got->text;
  if (truncated) raw.erase(WithoutCutSequence(raw));
  std::string text = LossyUtf8(std::move(raw));
  // Replacement characters are longer than the bytes they replace.
  if (const size_t keep = BoundaryAtOrBefore(text, max_bytes); keep < text.size()) {
    text.resize(keep);
    truncated = true;
  }
  Json types = Json::array();
  for (std::string& type : got->types) types.push_back(LossyUtf8(std::move(type)));
  const size_t bytes = text.size();
  return Json{{"bytes", bytes}, {"text", std::move(text)}, {"truncated", truncated},
              {"types", std::move(types)}};
}

ToolResult ClipboardWriteTo(const Json& params, const ClipboardWriter& write) {
  const std::string* text = StringParam(params, "text");
  if (text == nullptr) return Error(MissingParam("text"));
  if (text->size() > kMaxClipboardBytes) {
    return Error("invalid param: text is longer than 16777216 bytes");
  }
  const size_t bytes = text->size();
  if (Result<void> written = write(*text); !written) return Error(std::move(written).error());
  return Json{{"bytes", bytes}, {"done", true}};
}

ToolResult ClipboardRead(const Json& params) { return ClipboardReadFrom(params, ReadClipboard); }
ToolResult ClipboardWrite(const Json& params) { return ClipboardWriteTo(params, WriteClipboard); }

}  // namespace tarvix
