// A client of the privileged helper for its tests, signed by the tests as they need:
//   helper-client [--dumpable] <list.plist>
// Makes itself non-dumpable (unless --dumpable), says "ready", waits for a line "go" on its
// standard input, connects to the helper's service and sends every dictionary of the list (an
// XML property-list array) encrypted, without waiting; a dictionary with "__raw" (data) is sent
// as those bytes (and not waited for). It prints "reply <index> '<text>'" for each answer, "error <index> <code>"
// for a call that failed, and "done" once every call with "reply" has been answered or has
// failed; then it stays connected until its standard input ends.
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include "helper/HelperMessage.h"
#include "platform/codesign/ProtectSelf.h"
#include "platform/values/PropertyList.h"
#include "platform/xpc/Connection.h"

using namespace telvo;

namespace {

std::mutex gMutex;
std::condition_variable gChanged;
int gOutstanding = 0;

void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(gMutex);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void answered() {
    std::lock_guard<std::mutex> lock(gMutex);
    --gOutstanding;
    gChanged.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
    int at = 1;
    if (argc > at && std::strcmp(argv[at], "--dumpable") == 0) {
        ++at;
    } else {
        codesign::protectSelf();
    }
    if (argc <= at) {
        std::fprintf(stderr, "usage: helper-client [--dumpable] <list.plist>\n");
        return 2;
    }
    std::ifstream in(argv[at]);
    std::stringstream text;
    text << in.rdbuf();
    Value list = plist::parse(text.str());
    say("ready");
    char line[256];
    if (!std::fgets(line, sizeof line, stdin) || std::strncmp(line, "go", 2) != 0) return 0;

    xpc::ConnectionPtr connection =
        xpc::Connection::connectToService("com.kestro.telvoserver.installerhelper", xpc::Connection::kPrivileged);
    connection->setInvalidationHandler([] { say("invalidated"); });
    connection->setInterruptionHandler([] { say("interrupted"); });
    connection->resume();
    for (size_t i = 0; i < list.count(); ++i) {
        const Value& entry = list.at(i);
        Bytes message;
        if (entry.has("__raw")) {
            message = entry["__raw"].bytes();
        } else {
            std::optional<Bytes> encrypted = helper::encodeHelperMessage(helper::HelperCommand(entry));
            if (!encrypted) return 3;
            message = *encrypted;
        }
        // A raw message is never answered: only its connection's end tells of it.
        const bool wantsReply = entry.has("reply") && !entry.has("__raw");
        if (wantsReply) {
            std::lock_guard<std::mutex> lock(gMutex);
            ++gOutstanding;
        }
        connection->call(
            "processCommand:reply:", {Value(message)},
            [i, wantsReply](const Value& reply) {
                say("reply " + std::to_string(i) + " '" + reply.stringValue() + "'");
                if (wantsReply) answered();
            },
            [i, wantsReply](const ErrorPtr& error) {
                say("error " + std::to_string(i) + " " + std::to_string(error ? error->code : 0));
                if (wantsReply) answered();
            });
    }
    {
        std::unique_lock<std::mutex> lock(gMutex);
        gChanged.wait(lock, [] { return gOutstanding <= 0; });
    }
    say("done");
    while (std::fgets(line, sizeof line, stdin)) {
    }
    connection->invalidate();
    return 0;
}
