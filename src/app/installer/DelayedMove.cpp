#include "app/installer/DelayedMove.h"

#include <vector>

#include "platform/workspace/DetachedChild.h"

namespace telvo::app {

bool moveLater(const std::string& from, const std::string& to, bool copy, double delaySeconds) {
    const std::vector<std::string> argv = copy ? std::vector<std::string>{"/bin/cp", "-R", "-n", "-T", "--", from, to}
                                               : std::vector<std::string>{"/bin/mv", "-n", "-T", "--", from, to};
    return workspace::spawnDetached(argv, delaySeconds);
}

}  // namespace telvo::app
