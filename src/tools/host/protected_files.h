// Files that write_file refuses whatever name leads to them: the daemon's
// own audit log, whose default place no path table knows.
//
// The list is set at start-up, before any request worker runs; after that
// it is only read. Files are compared by identity (device and inode) with
// what the path names at the time of the call, so a hard link, a symbolic
// link or another spelling of the path is refused too, and a file that
// appears only later (the audit log is created by its first record) is
// covered once it exists. Thread-safe.
#ifndef TARVIX_TOOLS_HOST_PROTECTED_FILES_H_
#define TARVIX_TOOLS_HOST_PROTECTED_FILES_H_

#include <sys/stat.h>

#include <string>
#include <vector>

namespace tarvix {

// Replaces the list of protected paths (relative ones are taken against the
// working directory at the time of each check).
void SetProtectedFiles(std::vector<std::string> paths);

// True when `opened` (the status of an open descriptor) is the file that
// one of the protected paths names right now.
bool IsProtectedFile(const struct stat& opened);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_PROTECTED_FILES_H_
