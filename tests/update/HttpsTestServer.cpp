#include "HttpsTestServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace telvo::update::test {
namespace {

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool makeCA(const std::string& dir, const std::string& name) {
    return run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name + " -keyout " + dir + "/" + name +
               ".key -out " + dir + "/" + name + ".pem");
}

}  // namespace

std::string makeTemporaryFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "XXXXXX";
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

void removeTree(const std::string& path) {
    if (path.size() > 5) run("rm -rf '" + path + "'");
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

HttpsTestServer::HttpsTestServer() {
    base_ = makeTemporaryFolder("telvo-https-");
    folder_ = base_ + "/www";
    ca_ = base_ + "/ca.pem";
    otherCa_ = base_ + "/other.pem";
    if (base_.empty() || mkdir(folder_.c_str(), 0755) != 0) {
        failure_ = "no temporary folder";
        return;
    }
    writeText(base_ + "/san.cnf", "subjectAltName=IP:127.0.0.1\n");
    if (!makeCA(base_, "ca") || !makeCA(base_, "other") ||
        !run("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + base_ + "/server.key -out " + base_ +
             "/server.csr") ||
        !run("openssl x509 -req -days 2 -in " + base_ + "/server.csr -CA " + ca_ + " -CAkey " + base_ +
             "/ca.key -CAcreateserial -extfile " + base_ + "/san.cnf -out " + base_ + "/server.pem")) {
        failure_ = "openssl could not make the test certificates";
        return;
    }
    if (access("/usr/bin/python3", X_OK) != 0) {
        failure_ = "/usr/bin/python3 is missing";
        return;
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        failure_ = "no pipe";
        return;
    }
    const std::string script = std::string(TELVO_SOURCE_DIR) + "/tests/update/data/https_server.py";
    const std::string cert = base_ + "/server.pem", key = base_ + "/server.key";
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        setpgid(0, 0);
        execl("/usr/bin/python3", "python3", script.c_str(), cert.c_str(), key.c_str(), folder_.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) failure_ = "the Python HTTPS server did not start";
}

HttpsTestServer::~HttpsTestServer() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    removeTree(base_);
}

std::string HttpsTestServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpsTestServer::setAnswer(const std::string& path, const std::string& body) const {
    std::string name = path;
    while (!name.empty() && name[0] == '/') name.erase(0, 1);
    for (auto& ch : name)
        if (ch == '/') ch = '_';
    writeText(folder_ + "/" + name + ".answer", body);
}

void HttpsTestServer::addFile(const std::string& name, const std::string& contents) const {
    writeText(folder_ + "/" + name, contents);
}

std::string HttpsTestServer::posts() const { return readText(folder_ + "/posts.log"); }

std::string HttpsTestServer::gets() const { return readText(folder_ + "/gets.log"); }

}  // namespace telvo::update::test
