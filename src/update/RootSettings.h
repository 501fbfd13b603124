#pragma once
// The settings file root may leave for the update checks of the agent and of the control
// application (another feed and its CA file, for tests and private update servers). Only a
// regular file that belongs to root and that no one else may write is believed; any other is
// ignored and logged.
#include "platform/values/Value.h"

namespace telvo::update {

// Largest settings file read; a larger one reads as no settings.
constexpr size_t kRootSettingsLimit = 1 << 20;

// The property list at `path` (a literal path, resolved under the file-system root), opened once
// without following a link and checked on its descriptor; null when it is missing, untrusted,
// too large or not a property list.
Value readRootSettings(const char* path);

}  // namespace telvo::update
