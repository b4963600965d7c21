// The fixed safety screens: home expansion and the three compiled-in tables
// (sensitive read paths, protected write locations, command denylist).
//
// The screens apply in every mode and cannot be configured. Each is a pure
// function of its argument (ExpandHome also reads HOME and USERPROFILE), keeps
// no state and is safe to call from any number of threads.
//
// Matching is a plain substring test on a normalised form: the whole text is
// lower-cased with the full Unicode mapping and, for the two path tables,
// every backslash becomes "/". Nothing is tokenised or resolved.
#ifndef TARVIX_TOOLS_HOST_POLICY_H_
#define TARVIX_TOOLS_HOST_POLICY_H_

#include <string>
#include <string_view>

#include "base/result.h"

namespace tarvix {

// Replaces a leading "~" that stands alone or is followed by "/" or "\" with
// the home directory: HOME, else USERPROFILE (a variable whose value is not
// valid UTF-8 counts as unset). The value is used verbatim, even when empty.
// Any other path, or a path when neither variable gives a home, comes back
// unchanged ("~user/x" and "x/~/y" are never expanded).
std::string ExpandHome(std::string_view path);

// Refuses a path with a ".." component ("path refused (traversal)") or one
// that contains a sensitive read path ("path refused (sensitive)"). The
// traversal test comes first.
Result<void> GuardPath(std::string_view expanded);

// Refuses a path that contains a protected write location
// ("write refused (protected location)").
Result<void> GuardWritePath(std::string_view expanded);

// Refuses a command text that contains a denylist entry, naming the first
// entry in table order: "command refused by safety denylist (matched: <entry>)".
// Backslashes are compared as they are.
Result<void> GuardCommand(std::string_view command);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_POLICY_H_
