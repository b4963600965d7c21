// Removes the daemon's tokens from the places other processes can read: the
// argument and environment memory behind /proc/<pid>/cmdline, /proc/<pid>/
// environ and ps, and the environment that children of run_command inherit.
#ifndef TARVIX_DAEMON_SECRET_SCRUB_H_
#define TARVIX_DAEMON_SECRET_SCRUB_H_

namespace tarvix {

// Overwrites, in place, the bytes of every value that the command line
// passes with --token (read the way the configuration reads the command
// line; argv[0] is the program). Lengths are kept, so the arguments keep
// their layout and only the value bytes change.
void ScrubTokenArguments(int argc, char** argv);

// Overwrites the value bytes of every `name`=value string in the process
// environment in place, then removes the variable. Not thread-safe (it
// changes the environment): call while the process has one thread.
void ScrubEnvironmentVariable(const char* name);

// Both of the above for the token sources. Call right after the
// configuration is loaded, before any thread starts; the configuration
// keeps its own copy of the token.
void ScrubTokenFromProcess(int argc, char** argv);

}  // namespace tarvix

#endif  // TARVIX_DAEMON_SECRET_SCRUB_H_
