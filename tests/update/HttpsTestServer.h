#pragma once
// The update tests' HTTPS server: a Python 3 server on 127.0.0.1 with a certificate for the IP
// address, signed by a test CA made with openssl for this run. Files it serves and the answers
// it gives to a POST live in folder().
#include <sys/types.h>

#include <string>

namespace telvo::update::test {

class HttpsTestServer {
public:
    HttpsTestServer();
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    // Empty when it started; otherwise why not (the test skips).
    const std::string& failure() const { return failure_; }
    std::string url(const std::string& path) const;
    const std::string& folder() const { return folder_; }
    const std::string& caFile() const { return ca_; }
    // A CA the server's certificate is not signed by.
    const std::string& otherCAFile() const { return otherCa_; }
    void setAnswer(const std::string& path, const std::string& body) const;
    void addFile(const std::string& name, const std::string& contents) const;
    // The bodies of the POSTs received so far, one per line.
    std::string posts() const;
    // The paths (with their queries) of the GETs received so far, one per line.
    std::string gets() const;

private:
    std::string base_;
    std::string folder_;
    std::string ca_;
    std::string otherCa_;
    std::string failure_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A fresh temporary folder (mode 0700) and its removal.
std::string makeTemporaryFolder(const std::string& prefix);
void removeTree(const std::string& path);
bool writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);

}  // namespace telvo::update::test
