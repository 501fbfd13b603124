// The code-signature checker against signed copies of a real program, on disk and running.
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "codesign/ChildProcess.h"
#include "codesign/CodesignFixture.h"
#include "codesign/MOLCodesignChecker.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Signer.h"
#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"

namespace telvo::testing {
namespace {

std::string authorizedClient(const std::string& identifier) {
    return "anchor apple generic and identifier \"" + identifier +
           "\" and (certificate leaf[field.1.2.840.113635.100.6.1.9] /* exists */ or "
           "certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */ and "
           "certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate leaf[subject.OU] = " +
           std::string(kTestTeam) + ")";
}

std::string fingerprint(const TestPki& pki, const std::string& name, const char* digest) {
    std::string out = pki.root + "/" + name + "." + digest;
    run(std::string("openssl x509 -noout -fingerprint -") + digest + " -in " + pki.pem(name) + " | sed 's/.*=//; s/://g' | tr A-F a-f | tr -d '\\n' > " + out);
    return pki.read(out);
}

class CodesignCheckerTest : public CodesignFixture {};

TEST_F(CodesignCheckerTest, SignedRunningProgramGivesItsChainLeafFirst) {
    if (geteuid() != 0) GTEST_SKIP() << "checks by process id open /proc/<pid>/map_files, which needs root";
    std::string host;
    signedCopy("agent", "leaf", "devIdCA", "com.kestro.TelvoServerAgent", &host);
    ChildProcess child(host);
    ASSERT_TRUE(child.waitForOutput("ready\n"));
    ErrorPtr error;
    auto checker = MOLCodesignChecker::initWithPID(child.pid(), &error);
    ASSERT_TRUE(checker) << (error ? error->description() : "");
    ASSERT_FALSE(error) << error->description();
    auto certs = checker->certificates();
    ASSERT_EQ(certs.size(), 3u);
    EXPECT_EQ(certs[0]->commonName().value_or(""), kTestCommonName);
    EXPECT_EQ(certs[1]->commonName().value_or(""), "Developer ID Certification Authority");
    EXPECT_EQ(certs[2]->commonName().value_or(""), "Kestro Test Root CA");
    EXPECT_EQ(certs[0]->SHA1().value_or(""), fingerprint(pki(), "leaf", "sha1"));
    EXPECT_EQ(certs[0]->SHA256().value_or(""), fingerprint(pki(), "leaf", "sha256"));
    EXPECT_EQ(certs[2]->SHA256().value_or(""), fingerprint(pki(), "anchor", "sha256"));
    EXPECT_EQ(checker->leafCertificate(), certs[0]);
    EXPECT_EQ(checker->binaryPath(), host);
    EXPECT_EQ(checker->signingInformation()["identifier"].string(), "com.kestro.TelvoServerAgent");
    EXPECT_EQ(checker->description(),
              "In-memory binary, signed by Kestro Software, located at: " + host);

    auto agent = codesign::Requirement::parse(authorizedClient("com.kestro.TelvoServerAgent"));
    auto app = codesign::Requirement::parse(authorizedClient("com.kestro.TelvoServer"));
    ASSERT_TRUE(agent && app);
    EXPECT_TRUE(checker->validateWithRequirement(agent));
    EXPECT_FALSE(checker->validateWithRequirement(app));
    EXPECT_TRUE(checker->validateWithRequirement(checker->requirement()));
    // The helper's own admission rule: a chain certificate's name begins with the prefix.
    bool admitted = false;
    for (const auto& c : certs) admitted |= c->commonName().value_or("").rfind("Developer ID Application: Kestro Software", 0) == 0;
    EXPECT_TRUE(admitted);
}

TEST_F(CodesignCheckerTest, AuthorizedClientRequirementsByChain) {
    struct Case {
        const char* leaf;
        const char* chain;
        const char* identifier;
        bool agentHolds;
    } cases[] = {
        {"leaf", "devIdCA", "com.kestro.TelvoServerAgent", true},
        {"storeLeaf", "plainCA", "com.kestro.TelvoServerAgent", true},       // the store branch
        {"leaf", "devIdCA", "com.kestro.Other", false},                      // another identifier
        {"wrongOU", "devIdCA", "com.kestro.TelvoServerAgent", false},         // the wrong team
        {"plainLeaf", "plainCA", "com.kestro.TelvoServerAgent", false},       // intermediate lacks 6.2.6
    };
    auto agent = codesign::Requirement::parse(authorizedClient("com.kestro.TelvoServerAgent"));
    ASSERT_TRUE(agent);
    for (const auto& c : cases) {
        std::string path = signedCopy(std::string("p-") + c.leaf + "-" + c.identifier, c.leaf, c.chain, c.identifier);
        auto checker = MOLCodesignChecker::initWithBinaryPath(path);
        ASSERT_TRUE(checker) << c.leaf;
        EXPECT_EQ(checker->validateWithRequirement(agent), c.agentHolds) << c.leaf << " " << c.identifier;
    }
}

TEST_F(CodesignCheckerTest, DamagedOrUntrustedCodeFails) {
    std::string good = signedCopy("good", "leaf", "devIdCA");
    ASSERT_TRUE(MOLCodesignChecker::initWithBinaryPath(good));
    ASSERT_EQ(MOLCodesignChecker::initWithBinaryPath(good)->description(),
              "On-disk binary, signed by Kestro Software, located at: " + good);

    std::string flippedHost;
    signedCopy("flipped", "leaf", "devIdCA", "com.kestro.TelvoServerAgent", &flippedHost);
    std::string bytes;
    ASSERT_TRUE(fs::readFile(scratch_ + "/flipped", bytes));
    codesign::SectionRange range;
    ASSERT_TRUE(codesign::findSignatureSection(bytes, range));
    std::string inSignature = bytes;
    bytes[range.offset - 1] ^= 0x01;  // code just before the signature section
    ASSERT_TRUE(fs::writeFileAtomically(scratch_ + "/flipped", bytes, 0755));
    inSignature[range.offset + codesign::kBlobHeaderSize + 200] ^= 0x01;
    ASSERT_TRUE(fs::writeFileAtomically(scratch_ + "/badsignature", inSignature, 0755));

    struct Case {
        const char* what;
        std::string path;
        int32_t status;
    } cases[] = {
        {"one flipped byte", scratch_ + "/flipped", codesign::kStatusSignatureFailed},
        {"one flipped byte in the signature", scratch_ + "/badsignature", 0},
        {"self-made chain with the right names", signedCopy("rogue", "rogueLeaf", "rogueCA"), codesign::kStatusUntrusted},
        {"leaf without the code-signing usage", signedCopy("noeku", "noEku", "devIdCA"), codesign::kStatusUntrusted},
        {"unsigned", signedCopy("unsigned", "", ""), codesign::kStatusUnsigned},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(MOLCodesignChecker::initWithBinaryPath(c.path)) << c.what;
        ErrorPtr error;
        auto checker = MOLCodesignChecker::initWithBinaryPath(c.path, &error);
        ASSERT_TRUE(checker) << c.what;
        ASSERT_TRUE(error) << c.what;
        if (c.status != 0) {
            EXPECT_EQ(error->code, c.status) << c.what << ": " << error->description();
        }
    }
    // The unsigned program: no certificates, no organisation, no requirement.
    ErrorPtr error;
    auto unsignedChecker = MOLCodesignChecker::initWithBinaryPath(scratch_ + "/unsigned", &error);
    EXPECT_TRUE(unsignedChecker->certificates().empty());
    EXPECT_FALSE(unsignedChecker->leafCertificate());
    EXPECT_FALSE(unsignedChecker->requirement());
    EXPECT_EQ(unsignedChecker->signatureFlags(), 0u);
    EXPECT_EQ(unsignedChecker->description(),
              "On-disk binary, signed by (null), located at: " + scratch_ + "/unsigned");
    EXPECT_FALSE(unsignedChecker->validateWithRequirement(nullptr));
    // The self-made chain still shows what it carries.
    auto rogue = MOLCodesignChecker::initWithBinaryPath(scratch_ + "/rogue", &error);
    ASSERT_FALSE(rogue->certificates().empty());
    EXPECT_EQ(rogue->leafCertificate()->commonName().value_or(""), kTestCommonName);
}

TEST_F(CodesignCheckerTest, MatchingAndTheCachedRequirement) {
    auto a = MOLCodesignChecker::initWithBinaryPath(signedCopy("u1", "", ""), nullptr);
    auto b = MOLCodesignChecker::initWithBinaryPath(signedCopy("u2", "", ""), nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->signingInformationMatches(*b));  // two unsigned binaries

    auto one = MOLCodesignChecker::initWithBinaryPath(signedCopy("s1", "leaf", "devIdCA"));
    auto same = MOLCodesignChecker::initWithBinaryPath(signedCopy("s2", "leaf", "devIdCA", "com.kestro.Other"));
    auto other = MOLCodesignChecker::initWithBinaryPath(signedCopy("s3", "otherLeaf", "devIdCA"));
    ASSERT_TRUE(one && same && other);
    EXPECT_TRUE(one->signingInformationMatches(*same));
    EXPECT_FALSE(one->signingInformationMatches(*other));  // same chain above, another leaf
    EXPECT_FALSE(one->signingInformationMatches(*a));

    auto r1 = one->requirement();
    ASSERT_TRUE(r1);
    EXPECT_EQ(one->requirement(), r1);
    EXPECT_TRUE(one->validateWithRequirement(r1));
    EXPECT_FALSE(other->validateWithRequirement(r1));  // designated: this leaf only
    EXPECT_FALSE(same->validateWithRequirement(r1));   // and this identifier
}

TEST_F(CodesignCheckerTest, FlagsAndErrorCodes) {
    std::string path = scratch_ + "/flags";
    signedCopy("flags", "", "");
    ErrorPtr error;
    ASSERT_TRUE(codesign::signExecutable(path, "com.kestro.flags", pki().identity("leaf", "devIdCA"), 0x10000, &error));
    auto checker = MOLCodesignChecker::initWithBinaryPath(path);
    ASSERT_TRUE(checker);
    EXPECT_EQ(checker->signatureFlags(), 0x10000u);

    struct Case {
        int32_t status;
        const char* text;
    } cases[] = {
        {codesign::kStatusUnsigned, "code object is not signed at all"},
        {codesign::kStatusNoSuchCode, "code not found"},
        {codesign::kStatusSignatureFailed, "invalid signature (code or signature have been modified)"},
        {12345, ""},
    };
    for (const auto& c : cases) {
        ErrorPtr e = MOLCodesignChecker::errorWithCode(c.status);
        EXPECT_EQ(e->domain, kCodesignCheckerErrorDomain);
        EXPECT_EQ(e->code, c.status);
        EXPECT_EQ(e->message, c.text);
    }
    EXPECT_FALSE(MOLCodesignChecker::initWithBinaryPath("/no/such/file", &error));
    EXPECT_EQ(error->domain, kCodesignCheckerErrorDomain);
    EXPECT_EQ(error->code, codesign::kStatusNoSuchCode);
}

TEST_F(CodesignCheckerTest, ProcessChecksRefuseChangedOrTamperedProcesses) {
    if (geteuid() != 0) GTEST_SKIP() << "checks by process id open /proc/<pid>/map_files, which needs root";
    std::string host, unsignedHost;
    signedCopy("agent", "leaf", "devIdCA", "com.kestro.TelvoServerAgent", &host);
    signedCopy("plain", "", "", "", &unsignedHost);

    {  // unsigned process: nothing from the plain form, an empty object with the error form
        ChildProcess child(unsignedHost);
        ASSERT_TRUE(child.waitForOutput("ready\n"));
        EXPECT_FALSE(MOLCodesignChecker::initWithPID(child.pid()));
        ErrorPtr error;
        auto checker = MOLCodesignChecker::initWithPID(child.pid(), &error);
        ASSERT_TRUE(checker);
        ASSERT_TRUE(error);
        EXPECT_TRUE(checker->certificates().empty());
    }
    {  // started with a foreign library path
        ChildProcess child(host, {}, {"LD_PRELOAD="});
        ASSERT_TRUE(child.waitForOutput("ready\n"));
        EXPECT_FALSE(MOLCodesignChecker::initWithPID(child.pid()));
        ErrorPtr error;
        EXPECT_TRUE(MOLCodesignChecker::initWithPID(child.pid(), &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, codesign::kStatusGuestInvalid) << error->description();
        EXPECT_NE(error->message.find("LD_PRELOAD"), std::string::npos) << error->message;
        ChildProcess audit(host, {}, {"LD_LIBRARY_PATH=/usr/lib"});
        ASSERT_TRUE(audit.waitForOutput("ready\n"));
        EXPECT_FALSE(MOLCodesignChecker::initWithPID(audit.pid()));
    }
    {  // traced, by this test itself
        ChildProcess child(host);
        ASSERT_TRUE(child.waitForOutput("ready\n"));
        ASSERT_TRUE(MOLCodesignChecker::initWithPID(child.pid()));
        ASSERT_EQ(ptrace(PTRACE_SEIZE, child.pid(), nullptr, nullptr), 0) << std::strerror(errno);
        EXPECT_FALSE(MOLCodesignChecker::initWithPID(child.pid()));
        ErrorPtr error;
        EXPECT_TRUE(MOLCodesignChecker::initWithPID(child.pid(), &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, codesign::kStatusGuestInvalid) << error->description();
        EXPECT_NE(error->message.find("traced"), std::string::npos) << error->message;
        ptrace(PTRACE_DETACH, child.pid(), nullptr, nullptr);
    }
    {  // execs another program between the first look and the comparison
        ChildProcess child(host);
        ASSERT_TRUE(child.waitForOutput("ready\n"));
        const pid_t pid = child.pid();
        codesign::Code::setProcessCheckSeamForTesting([&](pid_t checked) {
            if (checked != pid) return;
            struct stat before{};
            stat(("/proc/" + std::to_string(pid) + "/exe").c_str(), &before);
            child.send("exec " + unsignedHost);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            for (;;) {
                struct stat now{};
                if (stat(("/proc/" + std::to_string(pid) + "/exe").c_str(), &now) == 0 && now.st_ino != before.st_ino) break;
                if (std::chrono::steady_clock::now() > deadline) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        ErrorPtr error;
        auto checker = MOLCodesignChecker::initWithPID(pid, &error);
        codesign::Code::setProcessCheckSeamForTesting(nullptr);
        EXPECT_TRUE(error);
        if (error) {
            EXPECT_EQ(error->code, codesign::kStatusGuestInvalid) << error->description();
            EXPECT_NE(error->message.find("changed"), std::string::npos) << error->message;
        }
    }
    {  // a process that has exited
        pid_t gone = fork();
        if (gone == 0) _exit(0);
        waitpid(gone, nullptr, 0);
        EXPECT_FALSE(MOLCodesignChecker::initWithPID(gone));
        ErrorPtr error;
        EXPECT_FALSE(MOLCodesignChecker::initWithPID(gone, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, kCodesignCheckerErrorDomain);
    }
}

TEST_F(CodesignCheckerTest, CallerThatIsNotRootMustBeNonDumpable) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to start a program as another user";
    std::string host;
    signedCopy("agent", "leaf", "devIdCA", "com.kestro.TelvoServerAgent", &host);
    // The other user must reach the program: open the folders on its way for traversal.
    ASSERT_EQ(run("chmod 711 '" + pki().root + "' && chmod 755 '" + hostPath(scratch_) + "'"), 0);
    const uid_t nobody = 65534;  // and its group "nogroup"
    ChildProcess guarded(host, {}, {}, nobody, nobody);
    ASSERT_TRUE(guarded.waitForOutput("ready\n"));
    ErrorPtr error;
    EXPECT_TRUE(MOLCodesignChecker::initWithPID(guarded.pid(), &error) && !error)
        << (error ? error->description() : "");
    ChildProcess dumpable(host, {"--dumpable"}, {}, nobody, nobody);
    ASSERT_TRUE(dumpable.waitForOutput("ready\n"));
    EXPECT_FALSE(MOLCodesignChecker::initWithPID(dumpable.pid()));
    MOLCodesignChecker::initWithPID(dumpable.pid(), &error);
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find("dumpable"), std::string::npos) << error->message;
}

TEST_F(CodesignCheckerTest, SelfIsCheckedInMemory) {
    // The test program itself carries no signature section.
    ErrorPtr error;
    auto self = MOLCodesignChecker::initWithSelfError(&error);
    ASSERT_TRUE(self);
    EXPECT_TRUE(error);
    EXPECT_FALSE(MOLCodesignChecker::initWithSelf());
    EXPECT_TRUE(self->certificates().empty());
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    ASSERT_GT(n, 0);
    EXPECT_EQ(self->binaryPath(), std::string(exe, size_t(n)));
    EXPECT_EQ(self->description().rfind("In-memory binary, signed by (null), located at: ", 0), 0u);
}

TEST_F(CodesignCheckerTest, UnsafeAnchorStoreTrustsNothing) {
    std::string path = signedCopy("good", "leaf", "devIdCA");
    const std::string anchors = hostPath("/etc/telvo/codesign/anchors");
    ASSERT_EQ(run("chmod 777 '" + anchors + "'"), 0);
    ErrorPtr error;
    EXPECT_FALSE(MOLCodesignChecker::initWithBinaryPath(path));
    auto checker = MOLCodesignChecker::initWithBinaryPath(path, &error);
    run("chmod 755 '" + anchors + "'");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, codesign::kStatusNoAnchors);
    EXPECT_TRUE(MOLCodesignChecker::initWithBinaryPath(path));
}

}  // namespace
}  // namespace telvo::testing
