#include "mcp/tool_catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "rpc/dispatch.h"
#include "tools/desktop/key_names.h"
#include "tools/host/policy.h"

namespace tarvix::mcp {
namespace {

std::vector<std::string> Names(const Json& tools) {
  std::vector<std::string> names;
  for (const Json& tool : tools) names.push_back(tool["name"]);
  return names;
}

// Whether `value` satisfies the type, enum and bounds of `schema` (the
// subset of JSON Schema the catalogue uses).
bool Satisfies(const Json& value, const Json& schema) {
  if (schema.contains("anyOf")) {
    for (const Json& alternative : schema["anyOf"]) {
      if (Satisfies(value, alternative)) return true;
    }
    return false;
  }
  const std::string type = schema.value("type", "");
  if (type == "integer" && !value.is_number_integer()) return false;
  if (type == "string" && !value.is_string()) return false;
  if (schema.contains("enum")) {
    bool listed = false;
    for (const Json& option : schema["enum"]) listed = listed || option == value;
    if (!listed) return false;
  }
  if (value.is_string()) {
    size_t code_points = 0;  // JSON Schema counts characters, not bytes
    for (const unsigned char c : value.get<std::string>()) code_points += (c & 0xC0) != 0x80;
    if (schema.contains("minLength") && code_points < schema["minLength"]) return false;
    if (schema.contains("maxLength") && code_points > schema["maxLength"]) return false;
  }
  if (schema.contains("minimum") && value < schema["minimum"]) return false;
  if (schema.contains("maximum") && value > schema["maximum"]) return false;
  return true;
}

// The parts of a schema's validity that a JSON Schema validator does not
// check (the SDK test compiles every schema with Ajv in strict mode):
// required names exist, every member is described, defaults are valid.
std::string SchemaFault(const Json& schema, const std::string& tool) {
  const Json& properties = schema["properties"];
  for (const Json& name : schema.value("required", Json::array())) {
    if (!properties.contains(name.get<std::string>())) return tool + ": required " + name.dump();
  }
  for (const auto& [name, property] : properties.items()) {
    if (!property.contains("description")) return tool + "/" + name + ": no description";
    if (property.contains("default") && !Satisfies(property["default"], property)) {
      return tool + "/" + name + ": invalid default";
    }
  }
  return "";
}

TEST(ToolCatalogueTest, ListsMutatingToolsOnlyInExecMode) {
  const std::vector<std::string> read_only = {"get_system_info", "list_processes", "list_dir",
                                              "read_file",       "screenshot",     "ui_tree",
                                              "ui_snapshot", "clipboard_read",  "list_windows",
                                              "wait_for", "batch", "displays",  "capture",
                                              "cursor"};
  std::vector<std::string> all = read_only;
  all.insert(all.end(),
             {"write_file", "run_command", "kill_process", "input", "window_action", "key_combo",
              "pointer", "drag",
              "clipboard_write", "ui_action", "ui_set_value"});
  EXPECT_EQ(Names(ToolDefinitions(false, true)), read_only);
  EXPECT_EQ(Names(ToolDefinitions(true, true)), all);
}

TEST(ToolCatalogueTest, EveryDefinitionIsCompleteAndItsSchemaValid) {
  for (const bool with_titles : {false, true}) {
    for (const Json& tool : ToolDefinitions(true, with_titles)) {
      const std::string name = tool["name"];
      const ToolEntry* entry = FindTool(name);
      ASSERT_NE(entry, nullptr) << name;
      EXPECT_EQ(tool.contains("title"), with_titles) << name;
      EXPECT_EQ(tool["annotations"]["title"], entry->title) << name;
      // A batch in exec mode may hold any step, so it is no read-only tool.
      const bool may_mutate = entry->needs_exec_mode || name == "batch";
      EXPECT_EQ(tool["annotations"]["readOnlyHint"], !may_mutate) << name;
      EXPECT_EQ(tool["annotations"]["openWorldHint"], false) << name;
      EXPECT_EQ(tool["annotations"].contains("destructiveHint"), may_mutate) << name;
      EXPECT_GT(tool["description"].get<std::string>().size(), 100u) << name;
      EXPECT_EQ(tool["description"].get<std::string>().find("Coordinates:") != std::string::npos,
                name == "screenshot" || name == "ui_tree" || name == "input" ||
                    name == "wait_for" || name == "displays" || name == "capture" ||
                    name == "list_windows" || name == "window_action" || name == "pointer" ||
                    name == "drag" || name == "cursor")
          << name;
      const Json& schema = tool["inputSchema"];
      EXPECT_EQ(schema["type"], "object") << name;
      EXPECT_EQ(SchemaFault(schema, name), "");
    }
  }
}

TEST(ToolCatalogueTest, MatchesTheDaemonMethodTable) {
  std::set<std::string> daemon_methods;
  for (const MethodEntry& method : DaemonMethodTable()) {
    daemon_methods.insert(std::string(method.name));
    const ToolEntry* tool = FindTool(method.name);
    if (method.name == "ping") {
      EXPECT_EQ(tool, nullptr);
      continue;
    }
    ASSERT_NE(tool, nullptr) << method.name << " has no tool";
    EXPECT_EQ(tool->needs_exec_mode, method.needs_exec_mode()) << method.name;
  }
  for (const ToolEntry& tool : ToolCatalogue()) {
    EXPECT_TRUE(daemon_methods.contains(std::string(tool.name))) << tool.name;
  }
}

// The commands run_command's description names in backquotes must be
// denylist entries, each refused in its own name.
TEST(ToolCatalogueTest, RunCommandNamesOnlyDenylistEntries) {
  const std::string_view description = FindTool("run_command")->description;
  std::vector<std::string> named;
  size_t open = description.find('`');
  while (open != std::string_view::npos) {
    const size_t close = description.find('`', open + 1);
    ASSERT_NE(close, std::string_view::npos) << description;
    named.emplace_back(description.substr(open + 1, close - open - 1));
    open = description.find('`', close + 1);
  }
  EXPECT_GE(named.size(), 3u) << description;
  for (const std::string& command : named) {
    const Result<void> refused = GuardCommand("x " + command + " x");
    ASSERT_FALSE(refused) << command;
    EXPECT_EQ(refused.error(), "command refused by safety denylist (matched: " + command + ")");
  }
}

TEST(ToolCatalogueTest, InputSchemaOffersOnlyKeyNamesTheDaemonResolves) {
  const Json schema = FindTool("input")->input_schema();
  const Json& names = schema["properties"]["name"]["anyOf"][0]["enum"];
  ASSERT_EQ(names.size(), 42u);
  for (const Json& name : names) {
    EXPECT_TRUE(ResolveKeyName(name.get<std::string>()).has_value()) << name;
  }
  // Names the daemon refuses stay out.
  EXPECT_FALSE(ResolveKeyName("f13").has_value());
  EXPECT_FALSE(Satisfies("f13", schema["properties"]["name"]));
  EXPECT_TRUE(Satisfies("a", schema["properties"]["name"]));
  EXPECT_TRUE(Satisfies("\xC3\xA9", schema["properties"]["name"]));
  EXPECT_FALSE(Satisfies("ab", schema["properties"]["name"]));
  EXPECT_EQ(schema["required"], Json::array({"action"}));
}

}  // namespace
}  // namespace tarvix::mcp
