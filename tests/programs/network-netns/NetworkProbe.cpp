// Drives the network collector of the namespace it runs in, one command a line on standard
// input, each answer ending with a line "END":
//   show          the status, primary interface, session, the collector's newest sample
//                 number, then one "item" line per item
//   tick          one tick (the clock's steps: the sample number, then the sample)
//   wait <n>      runs the main queue until the session is at least n (10 s at most)
//   xml <proto>   the number of item elements of a level-0 reply
#include <iostream>
#include <sstream>
#include <string>

#include "collectors/system/NetworkStatCollectorMac.h"
#include "platform/dispatch/MainLoop.h"

using namespace telvo;

int main() {
    auto c = NetworkStatCollectorMac::sharedNetworkCollector();
    std::string line;
    std::cout << "ready" << std::endl;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd == "show") {
            std::cout << "status=" << c->networkStatus() << " primary=" << c->primaryInterface()
                      << " session=" << c->session() << " ring0=" << c->sampleAtIndex(0, 0).sampleID
                      << " ring0d=" << c->sampleAtIndex(0, 0).values[0] << "\n";
            for (const auto& i : c->items()) {
                auto& n = static_cast<NetworkStatCollectorItem&>(*i);
                statsample s = n.sampleAtIndex(0, 0);
                int samples = 0;
                for (int64_t k = 0; k < 602; ++k)
                    if (n.sampleAtIndex(k, 0).sampleID > 0) ++samples;
                Value x = n.xmlStorageItem();
                std::cout << "item bsd=" << n.bsd << " uuid=" << n.key() << " name=" << x["name"].stringValue()
                          << " mac=" << n.mac << " ip=" << x["ip"].stringValue() << " temporary=" << n.temporary()
                          << " id=" << s.sampleID << " samples=" << samples << " d=" << s.values[0]
                          << " u=" << s.values[1] << " rx=" << s.values[2] << " tx=" << s.values[3] << " last=" << std::fixed << n.lastTime << std::defaultfloat << "\n";
            }
        } else if (cmd == "tick") {
            c->sampleIndexRecord(0)->sampleID += 1;
            c->updateStats();
            std::cout << "tick " << c->sampleIndex(0).sampleID << "\n";
        } else if (cmd == "wait") {
            int64_t want = 0;
            in >> want;
            dispatch::MainLoop::runUntil([&] { return c->session() >= want; }, 10);
            std::cout << "session=" << c->session() << "\n";
        } else if (cmd == "xml") {
            int64_t protocol = 3;
            in >> protocol;
            Value request(ValueDictionary{{"samples", Value("0")}, {"protocol", Value(protocol)}});
            auto nodes = c->xmlNodesFromAttributes(request);
            size_t items = 0;
            for (const auto& n : nodes)
                for (const auto& child : n->children)
                    if (child->name == "item") ++items;
            std::cout << "items=" << items << "\n";
        }
        std::cout << "END" << std::endl;
    }
    NetworkStatCollectorMac::cleanupShared();
    return 0;
}
