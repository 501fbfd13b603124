#pragma once
// The machine's task and thread counts, the stand-in for the processor set's load record:
// tasks are the processes (the numeric entries of /proc), threads the kernel's scheduling
// entities (the total of "running/total" in /proc/loadavg).
#include <string>

namespace telvo::host {

class TaskCountReader {
public:
    // False when /proc cannot be listed; `tasks` is then left as it was.
    bool readTasks(int& tasks);
    // False when /proc/loadavg cannot be read or has no "running/total" field.
    bool readThreads(int& threads);

private:
    std::string buffer_;
};

}  // namespace telvo::host
