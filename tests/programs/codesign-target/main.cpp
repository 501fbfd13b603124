// A program for the code-signature tests: makes itself non-dumpable as every signed program
// does (unless given "--dumpable"), says "ready" and then obeys lines on its standard input:
// "exec <path>" replaces it by another program, end of input ends it.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codesign/ProtectSelf.h"

int main(int argc, char** argv) {
    if (!(argc > 1 && std::strcmp(argv[1], "--dumpable") == 0)) telvo::codesign::protectSelf();
    std::printf("ready\n");
    std::fflush(stdout);
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string l(line);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        if (l.rfind("exec ", 0) == 0) {
            std::string path = l.substr(5);
            execl(path.c_str(), path.c_str(), "--dumpable", static_cast<char*>(nullptr));
            return 127;
        }
    }
    return 0;
}
