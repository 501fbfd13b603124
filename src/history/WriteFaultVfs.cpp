#include "history/WriteFaultVfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace telvo::history {

namespace {

std::mutex gMutex;
int gCode = 0;
std::string gPathPart;
std::atomic<long> gFailed{0};
sqlite3_vfs* gReal = nullptr;
sqlite3_vfs gVfs;

// The wrapper's file: its own header, then the real file's structure.
struct FaultFile {
    sqlite3_file base;
    const char* name;  // SQLite keeps it valid while the file is open; null for temporary files
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

FaultFile* wrap(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f); }

int faultFor(FaultFile* f) {
    // Temporary files (no name) are never failed.
    if (!f->name) return 0;
    std::lock_guard lock(gMutex);
    return gCode != 0 && (gPathPart.empty() || std::strstr(f->name, gPathPart.c_str())) ? gCode : 0;
}

int xClose(sqlite3_file* f) { return wrap(f)->real()->pMethods->xClose(wrap(f)->real()); }
int xRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return wrap(f)->real()->pMethods->xRead(wrap(f)->real(), b, n, o);
}
int xWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    if (int code = faultFor(wrap(f))) {
        ++gFailed;
        return code;
    }
    return wrap(f)->real()->pMethods->xWrite(wrap(f)->real(), b, n, o);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return wrap(f)->real()->pMethods->xTruncate(wrap(f)->real(), size);
}
int xSync(sqlite3_file* f, int flags) { return wrap(f)->real()->pMethods->xSync(wrap(f)->real(), flags); }
int xFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return wrap(f)->real()->pMethods->xFileSize(wrap(f)->real(), size);
}
int xLock(sqlite3_file* f, int l) { return wrap(f)->real()->pMethods->xLock(wrap(f)->real(), l); }
int xUnlock(sqlite3_file* f, int l) { return wrap(f)->real()->pMethods->xUnlock(wrap(f)->real(), l); }
int xCheckReservedLock(sqlite3_file* f, int* out) {
    return wrap(f)->real()->pMethods->xCheckReservedLock(wrap(f)->real(), out);
}
int xFileControl(sqlite3_file* f, int op, void* arg) {
    return wrap(f)->real()->pMethods->xFileControl(wrap(f)->real(), op, arg);
}
int xSectorSize(sqlite3_file* f) { return wrap(f)->real()->pMethods->xSectorSize(wrap(f)->real()); }
int xDeviceCharacteristics(sqlite3_file* f) {
    return wrap(f)->real()->pMethods->xDeviceCharacteristics(wrap(f)->real());
}
int xShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
    return wrap(f)->real()->pMethods->xShmMap(wrap(f)->real(), region, size, extend, p);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return wrap(f)->real()->pMethods->xShmLock(wrap(f)->real(), offset, n, flags);
}
void xShmBarrier(sqlite3_file* f) { wrap(f)->real()->pMethods->xShmBarrier(wrap(f)->real()); }
int xShmUnmap(sqlite3_file* f, int deleteFlag) {
    return wrap(f)->real()->pMethods->xShmUnmap(wrap(f)->real(), deleteFlag);
}
int xFetch(sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
    return wrap(f)->real()->pMethods->xFetch(wrap(f)->real(), o, n, p);
}
int xUnfetch(sqlite3_file* f, sqlite3_int64 o, void* p) {
    return wrap(f)->real()->pMethods->xUnfetch(wrap(f)->real(), o, p);
}

const sqlite3_io_methods kMethods = {3,         xClose,      xRead,       xWrite,     xTruncate,  xSync,
                                     xFileSize, xLock,       xUnlock,     xCheckReservedLock, xFileControl,
                                     xSectorSize, xDeviceCharacteristics, xShmMap, xShmLock, xShmBarrier,
                                     xShmUnmap, xFetch,      xUnfetch};

int xOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    FaultFile* f = wrap(file);
    f->base.pMethods = nullptr;
    int rc = gReal->xOpen(gReal, name, f->real(), flags, outFlags);
    if (rc != SQLITE_OK || !f->real()->pMethods) return rc;
    f->name = name;
    f->base.pMethods = &kMethods;
    return SQLITE_OK;
}

}  // namespace

void WriteFaultVfs::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        gReal = sqlite3_vfs_find(nullptr);
        gVfs = *gReal;
        gVfs.iVersion = gReal->iVersion;
        gVfs.szOsFile = int(sizeof(FaultFile)) + gReal->szOsFile;
        gVfs.zName = "telvo-write-fault";
        gVfs.pNext = nullptr;
        gVfs.xOpen = xOpen;
        sqlite3_vfs_register(&gVfs, 1);
    });
}

void WriteFaultVfs::setFault(int code, const std::string& pathPart) {
    std::lock_guard lock(gMutex);
    gCode = code;
    gPathPart = pathPart;
}

long WriteFaultVfs::failedWrites() { return gFailed; }

}  // namespace telvo::history
