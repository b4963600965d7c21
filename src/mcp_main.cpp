// tarvix-mcp: an MCP server over standard input and output that forwards
// every tool call to a running tarvix-agentd. Logs go to standard error;
// standard output carries protocol messages only.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "daemon/config.h"
#include "daemon/secret_scrub.h"
#include "mcp/daemon_client.h"
#include "mcp/session.h"
#include "mcp/stdio_server.h"

namespace tarvix {
namespace {

void WriteStderr(const std::string& text) {
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t n = write(STDERR_FILENO, rest.data(), rest.size());
    if (n <= 0) return;
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

bool HasTokenArgument(const std::vector<std::string>& args) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--token") return true;
  }
  return false;
}

int Main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  // The daemon's own reading of --port and --token (other options are
  // skipped), then TARVIX_AGENTD_TOKEN over --token.
  DaemonConfig config;
  ApplyCommandLine(args, &config);
  const std::optional<std::string> env_token = ProcessEnv("TARVIX_AGENTD_TOKEN");
  if (env_token) config.token = *env_token;
  ScrubTokenFromProcess(argc, argv);

  if (!env_token && HasTokenArgument(args)) {
    WriteStderr(
        "tarvix-mcp: WARNING \xE2\x80\x94 --token is readable by every local user in the process "
        "list; set TARVIX_AGENTD_TOKEN in the MCP host's configuration instead.\n");
  }
  // The daemon accepts a comma-separated list; the bridge presents the first
  // usable one, and with none every call would be refused.
  const std::vector<std::string> tokens = AcceptedTokens(config.token);
  if (tokens.empty()) {
    WriteStderr(
        "tarvix-mcp: WARNING \xE2\x80\x94 no token configured; tarvix-agentd will refuse every "
        "call. Set TARVIX_AGENTD_TOKEN (or pass --token) to the daemon's token.\n");
  }
  WriteStderr("tarvix-mcp: forwarding MCP tool calls to tarvix-agentd at " +
              ListenAddress(config.port) + "\n");

  mcp::HttpDaemonClient daemon(config.port, tokens.empty() ? std::string() : tokens.front());
  mcp::McpSession session(&daemon, TARVIX_VERSION);
  mcp::RunStdioServer(&session, STDIN_FILENO, STDOUT_FILENO);
  // Workers still waiting for the daemon after the drain are abandoned.
  _exit(0);
}

}  // namespace
}  // namespace tarvix

int main(int argc, char** argv) { return tarvix::Main(argc, argv); }
