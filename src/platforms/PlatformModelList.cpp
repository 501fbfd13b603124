#include "platforms/PlatformModelList.h"

namespace telvo::platforms {

std::vector<const PlatformModel*> platformModelList() {
    std::vector<const PlatformModel*> all;
    for (auto family : {macBookModels(), macBookAirModels(), macBookProModels(), iMacModels(), macMiniModels(),
                        macProModels(), xserveModels()})
        all.insert(all.end(), family.begin(), family.end());
    return all;
}

}  // namespace telvo::platforms
