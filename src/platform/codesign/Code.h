#pragma once
// A code object: a program or bundle on disk (static code) or a running process (dynamic
// code), and the validation of its signature. Validation answers a status and fills the
// signing information whatever the outcome:
//   "identifier", "flags", "format" ("ELF" or "bundle"), "unique" (SHA-256 of the code
//   directory), "main-executable" and "certificates" (DER data, leaf first), the last only
//   when the code carries a signature.
// A running process is checked through its own descriptor (/proc/<pid>/exe) and must stay
// the same process from the first look to the last, be untraced, be started without
// LD_PRELOAD, LD_AUDIT or LD_LIBRARY_PATH, and map executable code only from root-owned
// files no one else may write, from files with a valid signature, or from the vDSO.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/codesign/Requirement.h"
#include "platform/values/Value.h"

namespace telvo::codesign {

class Code;
using CodePtr = std::shared_ptr<const Code>;

class Code {
public:
    enum class Kind { Static, Dynamic };

    // A file or bundle folder (path under the file-system root); nullptr and kStatusNoSuchCode
    // when nothing is there.
    static CodePtr createWithPath(const std::string& path, int32_t& status);
    // A running process; nullptr and kStatusNoSuchCode when there is no such process.
    static CodePtr copyGuestWithPid(pid_t pid, int32_t& status);
    // This process.
    static CodePtr copySelf(int32_t& status);

    Kind kind() const { return kind_; }
    pid_t pid() const { return pid_; }
    // The path of the code: the path given, or the process's executable; empty when unknown.
    std::string path() const;

    // Validates the signature (and, for a process, the process). `info` is filled as far as
    // the signature could be read. Answers kStatusOK or why not, with a detail text.
    int32_t checkValidity(Value& info, std::string& detail) const;
    // checkValidity, then the requirement (kStatusRequirementFailed when not satisfied).
    int32_t checkValidity(const Requirement& requirement, Value& info, std::string& detail) const;

    // Test seam: called between the first look at a process and the comparison that ends its
    // check (a test execs another program there). Empty to remove.
    static void setProcessCheckSeamForTesting(std::function<void(pid_t)> seam);

private:
    Code(Kind kind, std::string path, pid_t pid) : kind_(kind), path_(std::move(path)), pid_(pid) {}
    int32_t checkProcess(Value& info, std::string& detail) const;

    Kind kind_;
    std::string path_;
    pid_t pid_ = 0;
};

// Validates the bytes of an ELF executable with its embedded signature.
int32_t checkExecutableBytes(const std::string& bytes, Value& info, std::string& detail);
// The same for an opened file: a regular file of at most 1 GiB, its headers and signature
// section read with pread and its digest streamed.
int32_t checkExecutableFile(int fd, Value& info, std::string& detail);

}  // namespace telvo::codesign
