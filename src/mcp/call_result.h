// Turns the daemon's answer to one tool call into an MCP CallToolResult.
#ifndef TARVIX_MCP_CALL_RESULT_H_
#define TARVIX_MCP_CALL_RESULT_H_

#include <string_view>

#include "json/json.h"

namespace tarvix::mcp {

// Success: the result as one text item (its compact JSON) and, when
// `structured` and the result is an object, as structuredContent too.
// A PNG screenshot ({base64, bytes, format, height, width}) or a PNG or
// JPEG capture (the same and origin, scale) becomes an image item
// (image/png or image/jpeg, the Base64 text unchanged) followed by a text item with the other
// members, which are also the structuredContent.
// Failure: {"content":[{"text":message,"type":"text"}],"isError":true}.
// `outcome` is consumed so that a large result is moved, not copied.
Json CallToolResult(std::string_view tool, ToolResult outcome, bool structured);

}  // namespace tarvix::mcp

#endif  // TARVIX_MCP_CALL_RESULT_H_
