// Spawn attributes that clear the child's signal mask and reset its signal actions.
#include "platform/process/SpawnSignals.h"

#include <signal.h>

namespace telvo::process {

void initCleanSignalAttributes(posix_spawnattr_t& attr) {
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

}  // namespace telvo::process
