#pragma once
// Runs a tool by argument vector (no shell), waits for it and answers its exit status (-1 when
// it could not start or did not exit normally), optionally with its standard output.
#include <string>
#include <vector>

namespace telvo::update {

int runTool(const std::vector<std::string>& argv, std::string* output = nullptr, size_t outputLimit = size_t(64) << 20);

}  // namespace telvo::update
