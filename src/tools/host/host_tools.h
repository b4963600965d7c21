// Entry points of the host tools, as the method table calls them.
//
// Every tool takes the request's params value unchanged (whatever its JSON
// type) and the daemon's mode, and returns a tool result: a JSON value or
// an error message. Tools never throw across this boundary. All are safe to
// call from several request workers at once.
#ifndef TARVIX_TOOLS_HOST_HOST_TOOLS_H_
#define TARVIX_TOOLS_HOST_HOST_TOOLS_H_

#include "json/json.h"

namespace tarvix {

ToolResult ReadFile(const Json& params, bool allow_exec);
ToolResult ListDir(const Json& params, bool allow_exec);
ToolResult WriteFile(const Json& params, bool allow_exec);
ToolResult RunCommand(const Json& params, bool allow_exec);
ToolResult GetSystemInfo(const Json& params, bool allow_exec);
ToolResult ListProcesses(const Json& params, bool allow_exec);
ToolResult KillProcess(const Json& params, bool allow_exec);

// "<method> is disabled (read-only mode; start with --allow-exec)".
std::string ReadOnlyRefusal(std::string_view method);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_HOST_TOOLS_H_
