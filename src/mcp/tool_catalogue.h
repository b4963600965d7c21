// The tools the bridge offers an MCP host: one per daemon method an agent
// needs, with a description written for a model, the JSON Schema of the
// method's params and behaviour hints. Data only; no tool logic lives here.
#ifndef TARVIX_MCP_TOOL_CATALOGUE_H_
#define TARVIX_MCP_TOOL_CATALOGUE_H_

#include <span>
#include <string_view>

#include "json/json.h"

namespace tarvix::mcp {

struct ToolEntry {
  std::string_view name;  // the MCP tool name and the daemon method it calls
  std::string_view title;
  std::string_view description;
  // Refused by a read-only daemon; listed only when the daemon reports
  // exec mode.
  bool needs_exec_mode;
  bool destructive;
  bool idempotent;
  // The description ends with the note on the coordinate space shared by
  // screenshot, ui_tree and input.
  bool coordinates;
  // Builds the params schema (an object schema).
  Json (*input_schema)();
};

// Every tool, read-only ones first, in listing order.
std::span<const ToolEntry> ToolCatalogue();

// The entry named `name`, or null.
const ToolEntry* FindTool(std::string_view name);

// The MCP tool definitions for tools/list. `exec_mode` adds the exec-mode
// tools. `with_titles` adds the top-level "title" member (protocol
// 2025-06-18 and later); the title is always in annotations.title, which
// every supported version knows.
Json ToolDefinitions(bool exec_mode, bool with_titles);

}  // namespace tarvix::mcp

#endif  // TARVIX_MCP_TOOL_CATALOGUE_H_
