// The MCP server side of the bridge: lifecycle, ping, tools/list and
// tools/call, answered from one classified request at a time. No I/O of
// its own besides the daemon seam it is given.
#ifndef TARVIX_MCP_SESSION_H_
#define TARVIX_MCP_SESSION_H_

#include <array>
#include <mutex>
#include <string>
#include <string_view>

#include "json/json.h"
#include "mcp/daemon_client.h"

namespace tarvix::mcp {

// Newest first; initialize answers with the client's version when it is
// one of these, else with the first.
inline constexpr std::array<std::string_view, 3> kProtocolVersions = {
    "2025-11-25", "2025-06-18", "2025-03-26"};

// Thread-safe: requests may be answered concurrently. `daemon` must
// outlive the session.
class McpSession {
 public:
  // `bridge_version` stands in for the daemon's version when initialize
  // cannot reach the daemon.
  McpSession(DaemonRpc* daemon, std::string bridge_version)
      : daemon_(daemon), bridge_version_(std::move(bridge_version)) {}

  // The complete JSON-RPC response to a request.
  Json Answer(const Json& id, std::string_view method, const Json& params);

  // The version the session speaks: the newest until initialize settles it.
  std::string protocol_version() const;

 private:
  Json Initialize(const Json& id, const Json& params);
  Json ListTools(const Json& id);
  Json CallTool(const Json& id, const Json& params);

  DaemonRpc* const daemon_;
  const std::string bridge_version_;
  mutable std::mutex mutex_;
  std::string_view protocol_version_ = kProtocolVersions[0];  // guarded by mutex_
};

// The progress token of a request (params._meta.progressToken: a string or
// a number), or null.
Json ProgressToken(const Json& params);

}  // namespace tarvix::mcp

#endif  // TARVIX_MCP_SESSION_H_
