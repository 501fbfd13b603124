// telvo-load-clients: N protocol clients against one daemon, each asking once a second for
// every statistics type it names, from the samples it already has (the newest sample id of
// each type's last reply), for a given number of seconds. compare.sh runs it to measure the
// daemon's cost with clients.
//   telvo-load-clients --port P --passcode CODE [--clients N] [--seconds S] [--stats a,b,...]
//   telvo-load-clients --port P --passcode CODE --count-values
// The second form prints how many values the daemon sampled last for the named types: the
// values of the newest sample of each type or item (its id and time left out).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ProtocolClient.h"

using namespace telvo::testclient;
using Clock = std::chrono::steady_clock;

namespace {

std::string attributeOf(const std::string& tag, const std::string& name) {
    const std::string needle = " " + name + "=\"";
    size_t at = tag.find(needle);
    if (at == std::string::npos) return {};
    at += needle.size();
    size_t end = tag.find('"', at);
    return end == std::string::npos ? std::string() : tag.substr(at, end - at);
}

// The newest sample id of each type's level 0 in a reply, read from its "stat" elements.
void newestIds(const std::string& payload, std::map<std::string, std::string>& ids) {
    for (size_t at = payload.find("<stat "); at != std::string::npos; at = payload.find("<stat ", at + 1)) {
        size_t end = payload.find('>', at);
        if (end == std::string::npos) break;
        const std::string tag = payload.substr(at, end - at);
        const std::string type = attributeOf(tag, "type"), id = attributeOf(tag, "id");
        const std::string interval = attributeOf(tag, "interval");
        if (!type.empty() && !id.empty() && (interval.empty() || interval == "0")) ids[type] = id;
    }
}

// The values of the newest sample ("s" element) of each "stat" or "item" in a reply.
long valuesOfNewestSamples(const std::string& payload) {
    long total = 0, newest = 0;
    for (size_t at = payload.find('<'); at != std::string::npos; at = payload.find('<', at + 1)) {
        size_t end = payload.find('>', at);
        if (end == std::string::npos) break;
        const std::string tag = payload.substr(at, end - at);
        if (tag.rfind("<s ", 0) == 0) {
            newest = 0;
            for (size_t q = tag.find("=\""); q != std::string::npos; q = tag.find("=\"", q + 1)) ++newest;
            if (tag.find(" id=\"") != std::string::npos) --newest;
            if (tag.find(" time=\"") != std::string::npos) --newest;
        } else if (tag.rfind("<stat", 0) == 0 || tag.rfind("<item", 0) == 0 || tag.rfind("</stat", 0) == 0 ||
                   tag.rfind("</item", 0) == 0) {
            total += newest;
            newest = 0;
        }
    }
    return total + newest;
}

std::string request(const std::vector<std::string>& types, const std::map<std::string, std::string>& ids) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\">";
    for (const auto& type : types) {
        auto found = ids.find(type);
        const std::string samples = found == ids.end() ? "0" : found->second;
        if (type == "processes")
            out += "<stat type=\"processes\"><item samples=\"" + samples + "\" keys=\"cpu,memory\"></item></stat>";
        else
            out += "<stat type=\"" + type + "\" samples=\"" + samples + "\"></stat>";
    }
    return out + "</tvx>";
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 5109;
    std::string code, stats = "cpu,load,memory,uptime,network,disks,diskactivity,diskinfo,sensors,battery,processes";
    int clients = 50;
    double seconds = 60;
    bool countValues = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--count-values") {
            countValues = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", a.c_str());
            return 2;
        }
        std::string v = argv[++i];
        if (a == "--port") port = uint16_t(std::atoi(v.c_str()));
        else if (a == "--passcode") code = v;
        else if (a == "--clients") clients = std::atoi(v.c_str());
        else if (a == "--seconds") seconds = std::atof(v.c_str());
        else if (a == "--stats") stats = v;
        else {
            std::fprintf(stderr, "usage: %s --port P --passcode CODE [--clients N] [--seconds S] [--stats a,b]\n", argv[0]);
            return 2;
        }
    }
    std::vector<std::string> types;
    for (size_t start = 0; start <= stats.size();) {
        size_t comma = stats.find(',', start);
        if (comma == std::string::npos) comma = stats.size();
        if (comma > start) types.push_back(stats.substr(start, comma - start));
        start = comma + 1;
    }

    if (countValues) {
        ProtocolClient client;
        std::string error;
        if (!client.connect("127.0.0.1", port, &error, 30) ||
            !client.logIn("telvo-load-client-count", code, false, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        if (!client.send(request(types, {}))) return 1;
        auto reply = client.readStatReply(30);
        if (!reply) {
            std::fprintf(stderr, "no statistics reply\n");
            return 1;
        }
        std::printf("%ld\n", valuesOfNewestSamples(reply->payload));
        return 0;
    }

    std::atomic<int> loggedIn{0}, failed{0};
    std::atomic<long> replies{0}, bytes{0};
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int n = 0; n < clients; ++n) {
        threads.emplace_back([&, n] {
            ProtocolClient client;
            // Each client from a loopback address of its own, as clients on other hosts: the
            // daemon bounds the sessions not yet authorised from one address.
            client.setSourceAddress("127.0." + std::to_string(1 + n / 200) + "." + std::to_string(10 + n % 200));
            std::string error;
            if (!client.connect("127.0.0.1", port, &error, 30) ||
                !client.logIn("telvo-load-client-" + std::to_string(n), code, false, &error)) {
                std::fprintf(stderr, "client %d: %s\n", n, error.c_str());
                ++failed;
                return;
            }
            ++loggedIn;
            std::map<std::string, std::string> ids;
            // Spread over the second so the clients do not all ask at the same instant.
            auto next = Clock::now() + std::chrono::milliseconds(1000 * n / clients);
            while (next < end) {
                std::this_thread::sleep_until(next);
                next += std::chrono::seconds(1);
                if (!client.send(request(types, ids))) break;
                auto reply = client.readStatReply(30);
                if (!reply) {
                    std::fprintf(stderr, "client %d: no statistics reply\n", n);
                    ++failed;
                    return;
                }
                ++replies;
                bytes += long(reply->payloadLength);
                newestIds(reply->payload, ids);
            }
        });
    }
    for (auto& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("telvo-load-clients: %d clients logged in, %d failed, %ld replies (%.1f a second), %.0f bytes a reply\n",
                loggedIn.load(), failed.load(), replies.load(), replies.load() / elapsed,
                replies.load() ? double(bytes.load()) / double(replies.load()) : 0.0);
    return failed.load() == 0 ? 0 : 1;
}
