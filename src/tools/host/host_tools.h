// Entry points of the host tools, as the method table calls them.
//
// Every tool takes the request's params value unchanged (whatever its JSON
// type) and returns a tool result: a JSON value or an error message. The
// method registry refuses the exec-mode ones in read-only mode before they
// are called. Tools never throw across this boundary. All are safe to call
// from several request workers at once.
#ifndef TARVIX_TOOLS_HOST_HOST_TOOLS_H_
#define TARVIX_TOOLS_HOST_HOST_TOOLS_H_

#include "json/json.h"

namespace tarvix {

ToolResult ReadFile(const Json& params);
ToolResult ListDir(const Json& params);
ToolResult WriteFile(const Json& params);
ToolResult RunCommand(const Json& params);
ToolResult GetSystemInfo(const Json& params);
ToolResult ListProcesses(const Json& params);
ToolResult KillProcess(const Json& params);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_HOST_TOOLS_H_
