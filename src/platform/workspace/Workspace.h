#pragma once
// The desktop's workspace: start an application bundle, open a web address in the default
// browser, move a file to the user's Trash. Free of any toolkit.
#include <string>

#include "platform/Error.h"

namespace telvo::workspace {

// Starts the executable of an application bundle ("Contents/MacOS/<CFBundleExecutable>"),
// detached from this process (its own session, standard streams on /dev/null), after
// `delaySeconds`. A plain name ("Telvo Server") means "/Applications/<name>.app" under the
// file-system root. False, with *error, when there is no such bundle or executable, or when
// it could not be started (without a delay the exec itself is checked).
bool launchApplication(const std::string& application, double delaySeconds = 0, ErrorPtr* error = nullptr);

// Opens an http or https address with xdg-open; any other scheme is refused.
bool openURL(const std::string& url, ErrorPtr* error = nullptr);

// Moves a file or folder into "~/.Trash" (made 0700 when missing), under a free name
// ("name 2.ext" and so on when taken); *trashedPath (when given) is where it went. A Trash on
// another file system gets a copy, and the original is removed only once the copy is in place;
// false with the item untouched when the copy fails.
bool recycle(const std::string& path, std::string* trashedPath = nullptr, ErrorPtr* error = nullptr);

// The executable of a bundle folder; empty when it has none.
std::string bundleExecutable(const std::string& bundlePath);

// Tests: the program run in place of "/usr/bin/xdg-open" (empty restores it).
void setOpenToolForTesting(const std::string& path);

}  // namespace telvo::workspace
