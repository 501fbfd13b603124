// The Xserve model tables: one constexpr PlatformModel per model, listed by the family hook.
#include "platforms/PlatformModelList.h"

namespace telvo::platforms {

std::span<const PlatformModel* const> xserveModels() { return {}; }

}  // namespace telvo::platforms
