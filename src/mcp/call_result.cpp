#include "mcp/call_result.h"

#include <string>
#include <utility>

namespace tarvix::mcp {
namespace {

Json TextItem(std::string text) { return {{"type", "text"}, {"text", std::move(text)}}; }

// The image item and the remaining members, or null when `result` is not
// a PNG image (or, when `jpeg` allows, a JPEG one).
Json SplitImage(Json& result, bool jpeg) {
  if (!result.is_object()) return nullptr;
  const auto base64 = result.find("base64");
  const auto format = result.find("format");
  if (base64 == result.end() || !base64->is_string() || format == result.end() ||
      (*format != "png" && (!jpeg || *format != "jpeg"))) {
    return nullptr;
  }
  const char* type = *format == "png" ? "image/png" : "image/jpeg";
  Json image = {{"type", "image"}, {"mimeType", type}, {"data", std::move(*base64)}};
  result.erase("base64");
  return image;
}

}  // namespace

Json CallToolResult(std::string_view tool, ToolResult outcome, bool structured) {
  if (!outcome) {
    return {{"content", Json::array({TextItem(std::move(outcome).error())})}, {"isError", true}};
  }
  Json result = std::move(outcome).value();
  Json content = Json::array();
  if (tool == "screenshot" || tool == "capture") {
    Json image = SplitImage(result, tool == "capture");
    if (!image.is_null()) content.push_back(std::move(image));
  }
  content.push_back(TextItem(ToJsonText(result)));
  Json reply = {{"content", std::move(content)}, {"isError", false}};
  if (structured && result.is_object()) reply["structuredContent"] = std::move(result);
  return reply;
}

}  // namespace tarvix::mcp
