#include "daemon/secret_scrub.h"

#include <stdlib.h>

#include <cstring>
#include <string_view>

extern char** environ;

namespace tarvix {
namespace {

// What a scrubbed value reads as: same length, no secret.
constexpr char kScrubbed = 'x';

void Overwrite(char* text) { memset(text, kScrubbed, strlen(text)); }

}  // namespace

void ScrubTokenArguments(int argc, char** argv) {
  // Same reading as ApplyCommandLine: an option that takes a value consumes
  // the next argument, whatever it looks like.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool takes_value = arg == "--port" || arg == "--token" || arg == "--audit" ||
                             arg == "--parent-pid";
    if (!takes_value || i + 1 >= argc) continue;
    ++i;
    if (arg == "--token") Overwrite(argv[i]);
  }
}

void ScrubEnvironmentVariable(const char* name) {
  const size_t name_length = strlen(name);
  // Every occurrence: an environment may hold a name twice, and getenv
  // would show only the first.
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (strncmp(*entry, name, name_length) == 0 && (*entry)[name_length] == '=') {
      Overwrite(*entry + name_length + 1);
    }
  }
  unsetenv(name);
}

void ScrubTokenFromProcess(int argc, char** argv) {
  ScrubTokenArguments(argc, argv);
  ScrubEnvironmentVariable("TARVIX_AGENTD_TOKEN");
}

}  // namespace tarvix
