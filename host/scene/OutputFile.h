// OutputFile: files that the host programs produce are written under a temporary name beside their
// target and renamed into place only when complete, so that a failed or interrupted write never
// destroys what the target held. checkOutputPath finds unwritable targets before any work is done.
#pragma once

#include <functional>
#include <string>

namespace tarsk::host {

// Throws HostError unless `path` can be replaced by a file written beside it: its folder exists
// and takes a new file (tried by making and removing one there, which also catches folders that
// look writable but are not, such as /proc), and `path` is not an existing folder, device or other
// non-regular file (a symbolic link counts as the file it names).
void checkOutputPath(const std::string& path);

// Makes `path` the complete file that `write(temporaryPath)` writes. `write` throws HostError on
// failure; then the temporary file is removed, `path` keeps what it held, and the error goes on.
// The new file gets the permissions the umask gives; a symbolic link is followed, not replaced.
void replaceFile(const std::string& path, const std::function<void(const std::string& temporaryPath)>& write);

}  // namespace tarsk::host
