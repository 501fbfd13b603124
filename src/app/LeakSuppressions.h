#pragma once
// LeakSanitizer suppressions for the Qt programs, kept narrow: LeakSanitizer matches a line
// against every frame of an allocation's stack, so a whole Qt library listed here would also
// hide a leak of ours made inside a Qt callback. Listed are only the libraries our code never
// calls into: Qt's D-Bus thread (its session-bus connection, kept for the life of the process,
// which libdbus allocates below it; these programs reach libdbus only through Qt) and
// fontconfig's caches. A program opts in by answering LeakSanitizer's hook:
//   extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }
namespace telvo::app {

inline constexpr const char* kQtLeakSuppressions =
    "leak:libQt6DBus.so\n"
    "leak:libdbus-1.so\n"
    "leak:libfontconfig.so\n";

}  // namespace telvo::app
