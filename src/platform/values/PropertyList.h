#pragma once
// The XML property-list format ("<?xml ...?><!DOCTYPE plist ...><plist version="1.0">"):
// preference files, job files and messages are read and written in it.
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::plist {

// Parses an XML property list. Entities other than the five predefined ones and character
// references are never expanded and nothing external is loaded. On failure answers null and
// sets *error (when given).
Value parse(const std::string& xml, ErrorPtr* error = nullptr);
// Reads and parses a file (path resolved under the file-system root).
Value readFile(const std::string& path, ErrorPtr* error = nullptr);
// Serialises with a tab indentation, as the platform writes preference files.
std::string serialize(const Value& value);
// Writes atomically (temporary file and rename); answers false on failure.
bool writeFile(const Value& value, const std::string& path, ErrorPtr* error = nullptr);

}  // namespace telvo::plist
