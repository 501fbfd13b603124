#pragma once
// The client side of the statistics protocol: a TLS connection to the daemon (the server's
// certificate is not checked, as the clients do with a self-signed one), messages sent as
// they are and answers read up to "</tvx>", and the framed statistics reply (a 105 header and
// its payload, inflated when compressed).
#include <openssl/ssl.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace telvo::testclient {

struct Answer {
    std::string text;                              // the message as it came
    std::map<std::string, std::string> attributes;  // the root's attributes
    int type() const;
};

struct StatReply {
    Answer header;
    std::string payload;  // inflated when the header said "c" "1"
    size_t payloadLength = 0;  // bytes on the wire
    bool compressed = false;
};

class ProtocolClient {
public:
    ProtocolClient();
    ~ProtocolClient();
    ProtocolClient(const ProtocolClient&) = delete;
    ProtocolClient& operator=(const ProtocolClient&) = delete;

    // Connects over TCP and runs the TLS handshake. On failure `error` says why.
    bool connect(const std::string& host, uint16_t port, std::string* error = nullptr, double timeout = 60);
    void close();
    // The local address later connections are made from (loopback tests that stand for
    // several hosts use 127.0.0.2 and up); empty for the system's choice.
    void setSourceAddress(const std::string& address) { source_ = address; }
    bool isConnected() const { return ssl_ != nullptr; }

    // Sends it whole; false on close or when it has not all gone within `timeout` seconds.
    bool send(const std::string& bytes, double timeout = 30);
    // One message up to and including "</tvx>"; none on time-out (real seconds) or close.
    std::optional<Answer> readAnswer(double timeout = 60);
    std::optional<StatReply> readStatReply(double timeout = 60);
    // True when the daemon closed the connection within `timeout`.
    bool waitForClose(double timeout);

    // Messages of the protocol.
    static std::string hello(bool compression, int protocol = 3, int platform = 1);
    static std::string clientDetails(const std::string& uuid, const std::string& name, const std::string& version = "1.0");
    static std::string passcode(const std::string& code);
    // One "stat" per type, each with samples "0". A type named in `itemKeys` gets one child
    // element per keys text, with samples "0" and that "keys" (the process lists, for
    // example); such a type is asked for even when `commaSeparatedTypes` leaves it out.
    using ItemKeys = std::vector<std::pair<std::string, std::string>>;  // type, keys text
    static std::string statRequest(const std::string& commaSeparatedTypes, const std::string& samples = "0",
                                   const ItemKeys& itemKeys = {});

    // Hello, details and (when given) the passcode; answers the server details' "auth".
    std::optional<std::string> logIn(const std::string& uuid, const std::optional<std::string>& code,
                                     bool compression, std::string* error = nullptr);

    std::string cipher() const;

private:
    // Reads at least one more byte into buffer_; false on time-out or close.
    bool fill(double deadline);

    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    std::string buffer_;
    std::string source_;
};

// Parses the root attributes of one message; none when it is no XML.
std::optional<Answer> parseAnswer(const std::string& text);

}  // namespace telvo::testclient
