#pragma once
// The model tables of this build, one hook per family. Each family file
// (src/platforms/<Family>/<Family>Models.cpp) defines its hook, answering its models in any
// order; platformModelList() joins them, and the daemon hands the list to PlatformController.
#include <span>
#include <vector>

#include "platforms/PlatformModel.h"

namespace telvo::platforms {

std::span<const PlatformModel* const> macBookModels();
std::span<const PlatformModel* const> macBookAirModels();
std::span<const PlatformModel* const> macBookProModels();
std::span<const PlatformModel* const> iMacModels();
std::span<const PlatformModel* const> macMiniModels();
std::span<const PlatformModel* const> macProModels();
std::span<const PlatformModel* const> xserveModels();

// Every family's models.
std::vector<const PlatformModel*> platformModelList();

}  // namespace telvo::platforms
