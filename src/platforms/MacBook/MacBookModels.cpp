// The MacBook model tables: one constexpr PlatformModel per model, listed by the family hook.
#include "platforms/PlatformModelList.h"

namespace telvo::platforms {

std::span<const PlatformModel* const> macBookModels() { return {}; }

}  // namespace telvo::platforms
