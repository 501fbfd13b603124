// The test PKI, made with the openssl command.
#include "codesign/TestPki.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace telvo::testing {
namespace {

const char* kCAExt =
    "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
    "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n";
const char* kLeafExt =
    "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,codeSigning\n"
    "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n";

std::string& madeFolder() {
    static std::string folder;
    return folder;
}

void removeMadeFolder() {
    if (!madeFolder().empty()) run("rm -rf '" + madeFolder() + "'");
}

void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace

int run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TestPki::read(const std::string& path) const {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

codesign::SigningIdentity TestPki::identity(const std::string& leaf, const std::string& chain) const {
    codesign::SigningIdentity id;
    id.certificatePem = read(pem(leaf));
    id.keyPem = read(key(leaf));
    if (!chain.empty()) id.chainPem = read(pem(chain));
    return id;
}

namespace {

// Makes every key and certificate of the test PKI in folder `f`.
bool makePki(const std::string& f) {
    const std::string quiet = " >/dev/null 2>&1";
    auto ext = [&](const std::string& name, const std::string& text) {
        write(f + "/" + name + ".ext", "[req]\ndistinguished_name=dn\n[dn]\n[ext]\n" + text);
        return f + "/" + name + ".ext";
    };
    auto key = [&](const std::string& name) {
        return run("openssl ecparam -name prime256v1 -genkey -noout -out " + f + "/" + name + ".key" + quiet) == 0;
    };
    auto selfSigned = [&](const std::string& name, const std::string& subject, const std::string& extText) {
        return key(name) &&
               run("openssl req -new -x509 -days 30 -key " + f + "/" + name + ".key -subj '" + subject + "' -out " + f +
                   "/" + name + ".pem -config " + ext(name, extText) + " -extensions ext" +
                   " -set_serial 0x" + std::to_string(1000 + name.size()) + quiet) == 0;
    };
    int serial = 10;
    auto issued = [&](const std::string& name, const std::string& subject, const std::string& issuer,
                      const std::string& extText) {
        return key(name) &&
               run("openssl req -new -key " + f + "/" + name + ".key -subj '" + subject + "' -out " + f + "/" + name +
                   ".csr -config /dev/null" + quiet) == 0 &&
               run("openssl x509 -req -days 30 -in " + f + "/" + name + ".csr -CA " + f + "/" + issuer + ".pem -CAkey " +
                   f + "/" + issuer + ".key -set_serial " + std::to_string(++serial) + " -extfile " + ext(name, extText) +
                   " -extensions ext -out " + f + "/" + name + ".pem" + quiet) == 0;
    };
    const std::string devIdField = "1.2.840.113635.100.6.2.6=ASN1:NULL\n";
    const std::string leafField = "1.2.840.113635.100.6.1.13=ASN1:NULL\n";
    const std::string leafSubject = "/C=US/O=Kestro Software/OU=" + std::string(kTestTeam) + "/CN=" + kTestCommonName;
    const std::string rootSubject = "/C=US/O=Kestro Test Authority/CN=Kestro Test Root CA";
    const std::string caSubject = "/C=US/O=Kestro Test Authority/OU=Certification/CN=Developer ID Certification Authority";
    bool ok = run("command -v openssl >/dev/null") == 0 && selfSigned("anchor", rootSubject, kCAExt) &&
              issued("devIdCA", caSubject, "anchor", std::string(kCAExt) + devIdField) &&
              issued("plainCA", caSubject, "anchor", kCAExt) &&
              issued("leaf", leafSubject, "devIdCA", std::string(kLeafExt) + leafField) &&
              issued("otherLeaf", leafSubject, "devIdCA", std::string(kLeafExt) + leafField) &&
              issued("wrongOU", "/C=US/O=Kestro Software/OU=WRONGTEAM1/CN=" + std::string(kTestCommonName), "devIdCA",
                     std::string(kLeafExt) + leafField) &&
              issued("plainLeaf", leafSubject, "plainCA", std::string(kLeafExt) + leafField) &&
              issued("storeLeaf", "/C=US/O=Kestro Software/CN=Store Distribution: Kestro Software", "plainCA",
                     std::string(kLeafExt) + "1.2.840.113635.100.6.1.9=ASN1:NULL\n") &&
              issued("noEku", leafSubject, "devIdCA",
                     "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n" + leafField) &&
              selfSigned("rogueRoot", rootSubject, kCAExt) &&
              issued("rogueCA", caSubject, "rogueRoot", std::string(kCAExt) + devIdField) &&
              issued("rogueLeaf", leafSubject, "rogueCA", std::string(kLeafExt) + leafField) &&
              selfSigned("twoOU", "/C=DE/O=Two Units/OU=First Unit/OU=Second Unit/CN=Outer Name/CN=Inner Name",
                         "subjectAltName=DNS:one.example,DNS:two.example,otherName:1.3.6.1.4.1.311.20.2.3;UTF8:user@example\n");
    return ok;
}

bool usable(const std::string& folder) {
    return access((folder + "/twoOU.pem").c_str(), R_OK) == 0 &&
           run("openssl x509 -checkend 86400 -noout -in '" + folder + "/anchor.pem' >/dev/null 2>&1") == 0;
}

}  // namespace

const TestPki& TestPki::shared() {
    static const TestPki pki = [] {
        TestPki p;
        // The keys and certificates are made once per build tree and shared by the test
        // processes (each test runs in a process of its own); each process has its own root.
        char tmpl[] = "/tmp/telvo-codesign-root-XXXXXX";
        if (!mkdtemp(tmpl)) {
            p.failure = "mkdtemp failed";
            return p;
        }
        p.root = tmpl;
        madeFolder() = p.root;
        std::atexit(removeMadeFolder);
        const std::string cache = std::string(TELVO_BINARY_DIR) + "/tests/codesign/test-pki";
        if (!usable(cache)) {
            std::string made = cache + ".XXXXXX";
            if (!mkdtemp(made.data()) || !makePki(made)) {
                run("rm -rf '" + made + "'");
                p.failure = "openssl could not make the test PKI in " + made;
                return p;
            }
            if (rename(made.c_str(), cache.c_str()) != 0) {
                if (usable(cache)) {
                    run("rm -rf '" + made + "'");  // another test process was first
                } else {
                    run("rm -rf '" + cache + "'");  // an expired one
                    if (rename(made.c_str(), cache.c_str()) != 0 && !usable(cache)) {
                        p.failure = "cannot keep the test PKI in " + cache;
                        return p;
                    }
                }
            }
        }
        p.folder = cache;
        const std::string f = p.folder;
        const std::string anchors = p.root + "/etc/telvo/codesign/anchors";
        if (run("mkdir -p '" + anchors + "' && chmod 755 '" + p.root + "/etc/telvo/codesign' '" + anchors + "' && cp " +
                f + "/anchor.pem '" + anchors + "/maker.pem' && chmod 644 '" + anchors + "/maker.pem'") != 0) {
            p.failure = "cannot make the anchor store";
            return p;
        }
        p.ok = true;
        return p;
    }();
    return pki;
}

}  // namespace telvo::testing
