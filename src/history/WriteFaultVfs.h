#pragma once
// A seam for tests of the SQLite layer: an SQLite file system that passes everything to the
// default one, except that while a fault is set, writes to the files whose path contains a
// given text fail with the chosen code (SQLITE_FULL, SQLITE_IOERR_WRITE...), as a full or
// failing disk makes them fail. Installed, it becomes the default for connections opened
// afterwards.
#include <string>

namespace telvo::history {

class WriteFaultVfs {
public:
    // Registers the file system as SQLite's default (once per process).
    static void install();
    // From now on, writes to files whose path contains `pathPart` (every file when empty)
    // fail with `code`; 0 ends the fault. Answers the number of writes failed so far.
    static void setFault(int code, const std::string& pathPart = std::string());
    static void clearFault() { setFault(0); }
    static long failedWrites();
};

}  // namespace telvo::history
