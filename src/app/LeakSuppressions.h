#pragma once
// LeakSanitizer suppressions for the Qt programs: allocations that Qt, its platform plugins
// and fontconfig make for the life of the process and never free (font caches, plugin
// loaders, the offscreen platform's singletons). Nothing of ours is listed: a leak in our
// code still fails the sanitizer run. A program opts in by answering LeakSanitizer's hook:
//   extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }
namespace telvo::app {

inline constexpr const char* kQtLeakSuppressions =
    "leak:libQt6Core.so\n"
    "leak:libQt6Gui.so\n"
    "leak:libQt6Widgets.so\n"
    "leak:libQt6Svg.so\n"
    "leak:libqoffscreen.so\n"
    "leak:libqxcb.so\n"
    "leak:libQt6XcbQpa.so\n"
    "leak:libfontconfig.so\n";

}  // namespace telvo::app
