#pragma once
// The XML property-list format ("<?xml ...?><!DOCTYPE plist ...><plist version="1.0">"):
// preference files, job files and messages are read and written in it.
#include <cstddef>
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::plist {

// Parses an XML property list. Entities other than the five predefined ones and character
// references are never expanded and nothing external is loaded; a document whose DOCTYPE has
// an internal subset (where entities would be declared) is refused. On failure answers null
// and sets *error (when given): domain "NSCocoaErrorDomain", code 3840 for a damaged list,
// "NSPOSIXErrorDomain" with errno for files that cannot be read or written.
Value parse(const std::string& xml, ErrorPtr* error = nullptr);
// Reads and parses a file (path resolved under the file-system root): a regular file of at
// most `limit` bytes, read without blocking (a FIFO or device is refused at once).
constexpr size_t kReadLimit = size_t(16) << 20;
Value readFile(const std::string& path, ErrorPtr* error = nullptr, size_t limit = kReadLimit);
// The message for a file that could not be read (errno `code`, as fs::readFile sets it).
std::string readFailure(const std::string& path, int code, size_t limit);
// Serialises with a tab indentation, as the platform writes preference files. The format has
// no null: null values inside dictionaries and arrays are left out, and a null value alone
// gives an empty <plist>. Dates are written in whole seconds ("2024-01-31T12:00:00Z").
std::string serialize(const Value& value);
// Writes atomically (temporary file and rename); answers false on failure.
bool writeFile(const Value& value, const std::string& path, ErrorPtr* error = nullptr);

}  // namespace telvo::plist
