// A client session's message handling, from the bytes that come out of the TLS layer to the
// answers: the input is cut into messages at each "</tvx>" (at most the session's maximum
// length each, as the socket reads them) and every message is handled by one session whose
// answers are checked to be whole messages.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "collectors/framework/StatCollector.h"
#include "daemon/Controller.h"
#include "daemon/RemoteClient.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "foundation/ServerLog.h"
#include "platform/fs/Root.h"

using namespace telvo;

namespace {

class CPUCollector : public StatCollector {
public:
    CPUCollector() : StatCollector(2) {
        setDatabaseEnabled(false);
        ValueDictionary keys{{"u", Value(0)}, {"s", Value(1)}};
        config().set("sampleKeys", Value(keys));
        for (int i = 0; i < 30; ++i) addSample(Value(ValueDictionary{{"u", Value(i * 1.5)}, {"s", Value(i)}}), 0);
    }
    std::string statType() const override { return "cpu"; }
};

class DiskInfoCollector : public StatCollector {
public:
    DiskInfoCollector() {
        setDatabaseEnabled(false);
        config().set("xmlSessionBased", Value(true));
        setSession(3);
    }
    std::string statType() const override { return "diskinfo"; }
};

void setUp() {
    char pattern[] = "/tmp/fuzz-session-XXXXXX";
    fs::setRootForTesting(mkdtemp(pattern));
    setDaemonLogStream(fopen("/dev/null", "w"));
    TVSPreferences::sharedPreferences().setPasscode("12345");
    DaemonCollectors collectors;
    collectors.cpu = std::make_shared<CPUCollector>();
    collectors.diskInfo = std::make_shared<DiskInfoCollector>();
    collectors.processes = std::make_shared<DiskInfoCollector>();
    Controller::sharedController().setCollectorsForTesting(collectors);
    auto& served = ServerManager::sharedServerManager().statCollectors();
    served = {collectors.cpu, collectors.diskInfo};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    bool expectPayload = false;
    auto session = RemoteClient::initDetachedForTesting([&](const std::string& bytes) {
        // Every answer is one whole message; a 105 header is followed by its payload.
        if (expectPayload) {
            expectPayload = false;
            return;
        }
        if (bytes.size() < 6 || bytes.compare(bytes.size() - 6, 6, "</tvx>") != 0) abort();
        if (bytes.find("type=\"105\"") != std::string::npos) expectPayload = true;
    });
    constexpr std::string_view terminator = "</tvx>";
    while (!input.empty()) {
        size_t end = input.find(terminator);
        if (end == std::string_view::npos) break;  // the rest waits for more bytes
        size_t length = end + terminator.size();
        if (length > RemoteClient::kMaximumMessageLength) break;  // the socket closes the session
        ServerManager::sharedServerManager().passcodeThrottle().reset();
        session->processXML(input.substr(0, length));
        input.remove_prefix(length);
    }
    return 0;
}
