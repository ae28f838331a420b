#pragma once
// Advisory whole-file locks (flock) between programs that share a folder:
// a file one Lumora writes is locked for as long as it writes it, so that
// a second one neither writes into it nor takes it for abandoned. The
// kernel drops a lock with its holder, a killed program's too.

#include <chrono>
#include <string>

#include "base/FileWriting.h"

// Takes an exclusive lock on the file open as `fd`, without waiting. false
// with errno set: EWOULDBLOCK while another open of the file (in this
// process or another) holds a lock on it.
bool TryLockExclusive(int fd);

// Whether another open of the regular file at `path` holds a lock on it
// now. A name without a file, or one that cannot be opened, holds none.
bool LockedByAnother(const std::string& path);

// Locks the regular file at `path` for a rewrite that replaces it by
// name: waits up to `patience` for another holder, and locks the new file
// when the old one was replaced meanwhile. Invalid without a regular file
// at the name (nothing to lock); then `busy` tells whether another held
// the lock for the whole wait.
UniqueFd LockForRewrite(const std::string& path, std::chrono::milliseconds patience, bool& busy);
