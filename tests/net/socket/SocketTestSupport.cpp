#include "SocketTestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace telvo::sockettest {
namespace {

double monotonicNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits up to `seconds` for `fd` to become readable.
bool readable(int fd, double seconds) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, int(seconds * 1000)) > 0;
}

std::string makeTempDir() {
    char pattern[] = "/tmp/telvo-socket-test-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    return dir ? dir : "";
}

}  // namespace

const std::string& testIdentityPEM() {
    static const std::string pem = [] {
        ::signal(SIGPIPE, SIG_IGN);  // a peer that went away must not end the test program
        std::string dir = makeTempDir();
        if (dir.empty()) return std::string();
        const std::string key = dir + "/key.pem", cert = dir + "/cert.pem";
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=TelvoServer2Test"
                                    " -keyout " + key + " -out " + cert + " >/dev/null 2>&1";
        std::string result;
        if (std::system(command.c_str()) == 0) result = readFile(key) + readFile(cert);
        ::unlink(key.c_str());
        ::unlink(cert.c_str());
        ::rmdir(dir.c_str());
        return result;
    }();
    return pem;
}

Value serverTLSSettings() {
    Value settings;
    settings.set(kCFStreamSSLIsServer, true);
    settings.set(kCFStreamSSLCertificates, ValueArray{Value::data(testIdentityPEM())});
    settings.set(GCDAsyncSocketSSLProtocolVersionMin, int(kTLSProtocol1));
    return settings;
}

int openDescriptorCount() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.') ++count;
        }
        ::closedir(d);
        --count;  // the directory's own descriptor
    }
    return count;
}

int settledDescriptorCount() {
    int count = openDescriptorCount();
    auto still = std::chrono::steady_clock::now();
    const auto deadline = still + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int now = openDescriptorCount();
        if (now != count) {
            count = now;
            still = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - still >= std::chrono::milliseconds(100)) {
            break;
        }
    }
    return count;
}

int descriptorCountAfterClosing(int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int now = openDescriptorCount();
    while (now > count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = openDescriptorCount();
    }
    return now;
}

namespace {
uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

bool someSocketHasPeerPort(uint16_t port) {
    bool found = false;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            if (::getpeername(std::atoi(e->d_name), reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
                portOf(peer) == port)
                found = true;
        }
        ::closedir(d);
    }
    return found;
}
}  // namespace

uint16_t localPort(int fd) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return portOf(local);
}

bool waitUntilNoSocketHasPeerPort(uint16_t port, double seconds) {
    const double end = monotonicNow() + seconds;
    while (someSocketHasPeerPort(port)) {
        if (monotonicNow() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

EchoServer::EchoServer(Options o) : queue(dispatch::Queue::createSerial("test.echo.delegate")), options(std::move(o)) {
    if (options.tlsSettings.isNull()) options.tlsSettings = serverTLSSettings();
}

uint16_t EchoServer::listen(const std::string& interface, ErrorPtr* error) {
    listener = GCDAsyncSocket::initWithDelegate(weak_from_this(), queue);
    if (!listener->acceptOnInterface(interface, 0, error)) return 0;
    return listener->localPort();
}

bool EchoServer::waitFor(const std::function<bool()>& predicate, double seconds) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::duration<double>(seconds), predicate);
}

void EchoServer::notify() { changed.notify_all(); }

void EchoServer::socketDidAcceptNewSocket(const GCDAsyncSocketPtr&, const GCDAsyncSocketPtr& newSocket) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        connections.push_back(newSocket);
        ++accepted;
    }
    if (options.tls) newSocket->startTLS(options.tlsSettings);
    else if (options.readAfterAccept)
        newSocket->readDataToData(terminator(), options.firstReadTimeout, options.maxLength, 1);
    notify();
}

void EchoServer::socketDidSecure(const GCDAsyncSocketPtr& sock) {
    sock->readDataToData(terminator(), options.firstReadTimeout, options.maxLength, 1);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++secured;
    }
    notify();
}

void EchoServer::socketDidReadData(const GCDAsyncSocketPtr& sock, const Bytes& data, long) {
    if (options.echo) sock->writeData(data, options.writeTimeout, 2);
    sock->readDataToData(terminator(), options.readTimeout, options.maxLength, 1);
    {
        std::lock_guard<std::mutex> lock(mutex);
        reads.push_back(text(data));
    }
    notify();
}

void EchoServer::socketDidReadPartialDataOfLength(const GCDAsyncSocketPtr&, size_t length, long) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        partialReadBytes += length;
    }
    notify();
}

void EchoServer::socketDidWriteDataWithTag(const GCDAsyncSocketPtr&, long) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++writesDone;
    }
    notify();
}

void EchoServer::socketDidWritePartialDataOfLength(const GCDAsyncSocketPtr&, size_t length, long) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        partialWriteBytes += length;
    }
    notify();
}

void EchoServer::socketDidCloseReadStream(const GCDAsyncSocketPtr&) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++readStreamsClosed;
    }
    notify();
}

void EchoServer::socketDidDisconnect(const GCDAsyncSocketPtr& sock, const ErrorPtr& error) {
    GCDAsyncSocketPtr released;
    {
        std::lock_guard<std::mutex> lock(mutex);
        disconnects.push_back({sock != nullptr, error});
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (*it == sock) {
                released = *it;
                connections.erase(it);
                break;
            }
        }
    }
    released.reset();  // outside the lock: the socket's destruction waits for its queue
    notify();
}

// ---------------------------------------------------------------------------------------------

RawClient::RawClient(int family, uint16_t port) {
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ == -1) return;
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int r;
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        r = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_loopback;
        r = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (r != 0) close();
}

RawClient::~RawClient() { close(); }

void RawClient::close() {
    if (fd_ != -1) ::close(fd_);
    fd_ = -1;
}

void RawClient::setReceiveBuffer(int size) { ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size); }

bool RawClient::send(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

std::string RawClient::readUntil(const std::string& needle, double seconds) {
    std::string got;
    const double end = monotonicNow() + seconds;
    while (got.find(needle) == std::string::npos) {
        double left = end - monotonicNow();
        if (left <= 0 || !readable(fd_, left)) break;
        char buffer[4096];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, size_t(n));
    }
    return got;
}

bool RawClient::waitForClose(double seconds) {
    const double end = monotonicNow() + seconds;
    for (;;) {
        double left = end - monotonicNow();
        if (left <= 0 || !readable(fd_, left)) return false;
        char buffer[4096];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return true;
    }
}

// ---------------------------------------------------------------------------------------------

OpenSSLClient::OpenSSLClient(const std::vector<std::string>& arguments) {
    int inPipe[2], outPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0) return;
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        ::close(inPipe[0]);
        ::close(inPipe[1]);
        return;
    }
    char pattern[] = "/tmp/telvo-s_client-XXXXXX";
    int errFD = ::mkstemp(pattern);
    errPath_ = pattern;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    if (errFD != -1) posix_spawn_file_actions_adddup2(&actions, errFD, 2);
    // The child starts with default signal handling and an empty mask.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> all_args{"openssl"};
    all_args.insert(all_args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : all_args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "openssl", &actions, &attributes, argv.data(), environ) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (errFD != -1) ::close(errFD);
    in_ = inPipe[1];
    out_ = outPipe[0];
}

OpenSSLClient::~OpenSSLClient() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (in_ != -1) ::close(in_);
    if (out_ != -1) ::close(out_);
    if (!errPath_.empty()) ::unlink(errPath_.c_str());
}

bool OpenSSLClient::send(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(in_, data.data() + done, data.size() - done);
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

bool OpenSSLClient::readUntil(const std::string& needle, double seconds) {
    const double end = monotonicNow() + seconds;
    while (output_.find(needle) == std::string::npos) {
        double left = end - monotonicNow();
        if (left <= 0 || !readable(out_, left)) return false;
        char buffer[8192];
        ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_.append(buffer, size_t(n));
    }
    return true;
}

size_t OpenSSLClient::readSome(size_t count, double seconds) {
    if (!readable(out_, seconds)) return 0;
    std::string buffer(count, '\0');
    ssize_t n = ::read(out_, buffer.data(), count);
    if (n <= 0) return 0;
    output_.append(buffer.data(), size_t(n));
    return size_t(n);
}

std::string OpenSSLClient::errorOutput() const { return readFile(errPath_); }

int OpenSSLClient::finish(double seconds) {
    if (in_ != -1) {
        ::close(in_);
        in_ = -1;
    }
    if (pid_ <= 0) return -1;
    const double end = monotonicNow() + seconds;
    int status = 0;
    for (;;) {
        // Keep draining its output so that it never blocks on a full pipe.
        if (readable(out_, 0.01)) {
            char buffer[8192];
            ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n > 0) output_.append(buffer, size_t(n));
        }
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (monotonicNow() > end) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace telvo::sockettest
