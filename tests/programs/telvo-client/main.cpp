// telvo-client: talks to a running TelvoServerDaemon and prints its answers.
//   telvo-client [--host H] [--port P] [--passcode CODE] [--uuid UUID] [--stats cpu,load,...]
//                [--compression] [--repeat N] [--keys TYPE=KEYS ...]
// --keys asks for the items of one stat type, for example --keys processes=cpu,memory for the
// busiest processes by CPU and by memory; it may be given more than once.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ProtocolClient.h"

using namespace telvo::testclient;

int main(int argc, char** argv) {
    std::string host = "127.0.0.1", uuid = "telvo-client-device", stats = "cpu,load,memory,network,uptime";
    std::optional<std::string> code;
    uint16_t port = 5109;
    bool compression = false;
    int repeat = 1;
    ProtocolClient::ItemKeys itemKeys;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--host") host = next();
        else if (a == "--port") port = uint16_t(std::atoi(next().c_str()));
        else if (a == "--passcode") code = next();
        else if (a == "--uuid") uuid = next();
        else if (a == "--stats") stats = next();
        else if (a == "--compression") compression = true;
        else if (a == "--repeat") repeat = std::atoi(next().c_str());
        else if (a == "--keys") {
            std::string v = next();
            size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) {
                std::fprintf(stderr, "--keys needs TYPE=KEYS, for example processes=cpu,memory\n");
                return 2;
            }
            itemKeys.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        }
        else {
            std::fprintf(stderr, "usage: %s [--host H] [--port P] [--passcode CODE] [--uuid UUID] [--stats a,b] [--compression] [--repeat N] [--keys TYPE=KEYS]\n", argv[0]);
            return 2;
        }
    }
    ProtocolClient client;
    std::string error;
    if (!client.connect(host, port, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("connected, TLS cipher %s\n", client.cipher().c_str());
    client.send(ProtocolClient::hello(compression));
    if (auto a = client.readAnswer()) std::printf("hello answer: %s\n", a->text.c_str());
    client.send(ProtocolClient::clientDetails(uuid, "telvo-client"));
    auto details = client.readAnswer();
    if (!details) {
        std::fprintf(stderr, "no server details\n");
        return 1;
    }
    std::printf("server details: %s\n", details->text.c_str());
    if (details->attributes["auth"] != "0") {
        if (!code) {
            std::fprintf(stderr, "the server asks for a passcode (--passcode)\n");
            return 1;
        }
        client.send(ProtocolClient::passcode(*code));
        auto verdict = client.readAnswer(120);
        std::printf("passcode answer: %s\n", verdict ? verdict->text.c_str() : "(none)");
        if (!verdict || verdict->type() != 103) return 1;
    }
    for (int i = 0; i < repeat; ++i) {
        client.send(ProtocolClient::statRequest(stats, "0", itemKeys));
        auto reply = client.readStatReply(30);
        if (!reply) {
            std::fprintf(stderr, "no statistics reply\n");
            return 1;
        }
        std::printf("header: %s\npayload (%zu bytes%s):\n%s\n", reply->header.text.c_str(), reply->payloadLength,
                    reply->compressed ? ", gzip" : "", reply->payload.c_str());
        if (i + 1 < repeat) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return 0;
}
