#pragma once
// Spawn attributes for a child that starts with no signal blocked and every signal at its
// default action, whatever the spawning process blocks or ignores.
#include <spawn.h>

namespace telvo::process {

// Initialises `attr` (posix_spawnattr_init) with those signal settings; the caller destroys it.
void initCleanSignalAttributes(posix_spawnattr_t& attr);

}  // namespace telvo::process
