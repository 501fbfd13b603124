#include "ProtocolClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <sstream>

#include "platform/xml/XmlDocument.h"

namespace telvo::testclient {

namespace {

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::optional<std::string> inflateGzip(const std::string& data) {
    z_stream z{};
    if (inflateInit2(&z, 47) != Z_OK) return std::nullopt;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    std::string out;
    char chunk[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
        if (rc == Z_BUF_ERROR) break;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return std::nullopt;
    return out;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

int Answer::type() const {
    auto it = attributes.find("type");
    return it == attributes.end() ? 0 : std::atoi(it->second.c_str());
}

std::optional<Answer> parseAnswer(const std::string& text) {
    auto document = xml::XmlDocument::parse(text);
    if (!document || !document->root()) return std::nullopt;
    Answer answer;
    answer.text = text;
    for (const auto& [k, v] : document->root().attributes()) answer.attributes[k] = v;
    return answer;
}

ProtocolClient::ProtocolClient() {
    // A server that closes a connection before the handshake is done (it refuses it) must
    // fail the write, not end the process with SIGPIPE.
    static const bool ignored = (::signal(SIGPIPE, SIG_IGN), true);
    (void)ignored;
}
ProtocolClient::~ProtocolClient() { close(); }

void ProtocolClient::close() {
    if (ssl_) {
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (ctx_) {
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    buffer_.clear();
}

bool ProtocolClient::connect(const std::string& host, uint16_t port, std::string* error, double timeout) {
    close();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        close();
        return false;
    };
    addrinfo hints{}, *list = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || !list)
        return fail("cannot resolve " + host);
    for (addrinfo* a = list; a && fd_ < 0; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        if (!source_.empty()) {
            addrinfo sourceHints{}, *local = nullptr;
            sourceHints.ai_family = a->ai_family;
            sourceHints.ai_flags = AI_NUMERICHOST;
            bool bound = getaddrinfo(source_.c_str(), nullptr, &sourceHints, &local) == 0 && local &&
                         ::bind(fd, local->ai_addr, local->ai_addrlen) == 0;
            if (local) freeaddrinfo(local);
            if (!bound) {
                ::close(fd);
                continue;
            }
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0)
            fd_ = fd;
        else
            ::close(fd);
    }
    freeaddrinfo(list);
    if (fd_ < 0) return fail("cannot connect to " + host + " port " + std::to_string(port) + ": " + std::strerror(errno));
    ctx_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    double deadline = nowSeconds() + timeout;
    for (;;) {
        int rc = SSL_connect(ssl_);
        if (rc == 1) return true;
        int e = SSL_get_error(ssl_, rc);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
            char text[256];
            ERR_error_string_n(ERR_get_error(), text, sizeof text);
            return fail(std::string("TLS handshake failed: ") + text);
        }
        double left = deadline - nowSeconds();
        if (left <= 0) return fail("TLS handshake timed out");
        pollfd p{fd_, short(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        ::poll(&p, 1, int(left * 1000) + 1);
    }
}

std::string ProtocolClient::cipher() const { return ssl_ ? SSL_get_cipher(ssl_) : ""; }

bool ProtocolClient::send(const std::string& bytes, double timeout) {
    if (!ssl_) return false;
    size_t done = 0;
    double deadline = nowSeconds() + timeout;
    while (done < bytes.size()) {
        int rc = SSL_write(ssl_, bytes.data() + done, int(bytes.size() - done));
        if (rc > 0) {
            done += size_t(rc);
            continue;
        }
        int e = SSL_get_error(ssl_, rc);
        if ((e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) || nowSeconds() > deadline) return false;
        pollfd p{fd_, short(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        ::poll(&p, 1, 100);
    }
    return true;
}

bool ProtocolClient::fill(double deadline) {
    if (!ssl_) return false;
    char chunk[16384];
    for (;;) {
        int rc = SSL_read(ssl_, chunk, sizeof chunk);
        if (rc > 0) {
            buffer_.append(chunk, size_t(rc));
            return true;
        }
        int e = SSL_get_error(ssl_, rc);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return false;  // closed
        double left = deadline - nowSeconds();
        if (left <= 0) return false;
        pollfd p{fd_, short(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        ::poll(&p, 1, int(left * 1000) + 1);
    }
}

std::optional<Answer> ProtocolClient::readAnswer(double timeout) {
    double deadline = nowSeconds() + timeout;
    static const std::string terminator = "</tvx>";
    for (;;) {
        auto end = buffer_.find(terminator);
        if (end != std::string::npos) {
            std::string text = buffer_.substr(0, end + terminator.size());
            buffer_.erase(0, end + terminator.size());
            auto answer = parseAnswer(text);
            if (!answer) {
                Answer raw;
                raw.text = text;
                return raw;
            }
            return answer;
        }
        if (!fill(deadline)) return std::nullopt;
    }
}

std::optional<StatReply> ProtocolClient::readStatReply(double timeout) {
    double deadline = nowSeconds() + timeout;
    auto header = readAnswer(timeout);
    if (!header || header->type() != 105) return std::nullopt;
    StatReply reply;
    reply.header = *header;
    reply.payloadLength = size_t(std::atol(header->attributes["length"].c_str()));
    reply.compressed = header->attributes["c"] == "1";
    while (buffer_.size() < reply.payloadLength)
        if (!fill(deadline)) return std::nullopt;
    std::string payload = buffer_.substr(0, reply.payloadLength);
    buffer_.erase(0, reply.payloadLength);
    if (reply.compressed) {
        auto inflated = inflateGzip(payload);
        if (!inflated) return std::nullopt;
        payload = *inflated;
    }
    reply.payload = payload;
    return reply;
}

bool ProtocolClient::waitForClose(double timeout) {
    double deadline = nowSeconds() + timeout;
    while (nowSeconds() < deadline) {
        if (!fill(deadline)) return nowSeconds() < deadline;
    }
    return false;
}

std::string ProtocolClient::hello(bool compression, int protocol, int platform) {
    std::ostringstream s;
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"100\" compression=\"" << (compression ? "1" : "0")
      << "\" protocol=\"" << protocol << "\" platform=\"" << platform << "\"></tvx>";
    return s.str();
}

std::string ProtocolClient::clientDetails(const std::string& uuid, const std::string& name, const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"101\" uuid=\"" + escape(uuid) + "\" version=\"" +
           escape(version) + "\" name=\"" + escape(name) + "\"></tvx>";
}

std::string ProtocolClient::passcode(const std::string& code) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"102\" code=\"" + escape(code) + "\"></tvx>";
}

std::string ProtocolClient::statRequest(const std::string& types, const std::string& samples, const ItemKeys& itemKeys) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < types.size()) {
        size_t comma = types.find(',', start);
        std::string type = types.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!type.empty()) names.push_back(type);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (const auto& [type, keys] : itemKeys) {
        (void)keys;
        bool named = false;
        for (const auto& n : names) named = named || n == type;
        if (!named) names.push_back(type);
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\">";
    for (const auto& type : names) {
        out += "<stat type=\"" + escape(type) + "\" samples=\"" + escape(samples) + "\">";
        for (const auto& [itemType, keys] : itemKeys)
            if (itemType == type) out += "<item samples=\"0\" keys=\"" + escape(keys) + "\"></item>";
        out += "</stat>";
    }
    return out + "</tvx>";
}

std::optional<std::string> ProtocolClient::logIn(const std::string& uuid, const std::optional<std::string>& code,
                                                 bool compression, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<std::string> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (!send(hello(compression))) return fail("cannot send the hello");
    auto answer = readAnswer();
    if (!answer || answer->type() != 100) return fail("no hello answer");
    if (!send(clientDetails(uuid, "telvo-client"))) return fail("cannot send the details");
    auto details = readAnswer();
    if (!details || details->type() != 100) return fail("no server details");
    std::string auth = details->attributes["auth"];
    if (auth != "0" && code) {
        if (!send(passcode(*code))) return fail("cannot send the passcode");
        auto verdict = readAnswer(120);
        if (!verdict) return fail("no answer to the passcode");
        if (verdict->type() != 103) return fail("passcode rejected");
        auth = "0";
    }
    return auth;
}

}  // namespace telvo::testclient
