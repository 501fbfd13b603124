// Requirements, the signature section, bundles, OpenSSL's own CMS tools and the signing tool.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "codesign/CodesignFixture.h"
#include "codesign/MOLCodesignChecker.h"
#include "platform/codesign/CodeDirectory.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Signer.h"
#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {
namespace {

class FormatsTest : public CodesignFixture {};

TEST(RequirementTest, ParsesTheSubsetAndRefusesTheRest) {
    const char* valid[] = {
        "anchor apple generic",
        "identifier \"com.kestro.TelvoServer\"",
        "identifier = com.kestro.TelvoServer",
        "certificate leaf[field.1.2.840.113635.100.6.1.9] exists",
        "certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */",
        "certificate leaf[subject.OU] = KESTRO1234",
        "certificate root = H\"0123456789abcdef0123456789ABCDEF01234567\"",
        "(anchor apple generic) and (identifier a or identifier b)",
    };
    for (const char* text : valid) EXPECT_TRUE(codesign::Requirement::parse(text)) << text;
    const char* invalid[] = {
        "", "anchor", "anchor apple", "identifier", "(identifier a", "identifier a)", "identifier a and",
        "certificate leaf[field.not-an-oid] exists", "certificate leaf[subject.XX] = a", "certificate leaf = H\"12\"",
        "certificate 9999[field.1.2.3]", "identifier a /* unterminated", "info[key] = a", "identifier \"open",
    };
    for (const char* text : invalid) {
        ErrorPtr error;
        EXPECT_FALSE(codesign::Requirement::parse(text, &error)) << text;
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->code, codesign::kStatusRequirementInvalid);
    }
    // "and" binds tighter than "or".
    codesign::RequirementContext context;
    context.identifier = "b";
    EXPECT_TRUE(codesign::Requirement::parse("identifier a and identifier x or identifier b")->evaluate(context));
    EXPECT_FALSE(codesign::Requirement::parse("identifier a and (identifier x or identifier b)")->evaluate(context));
    EXPECT_FALSE(codesign::Requirement::parse("anchor apple generic")->evaluate(context));  // no chain
}

TEST(SignatureSectionTest, MalformedInputIsRefused) {
    std::string program;
    ASSERT_TRUE(fs::readFile(CodesignFixture::targetProgram(), program));
    codesign::SectionRange range;
    ASSERT_TRUE(codesign::findSignatureSection(program, range));
    EXPECT_EQ(range.size, codesign::kSectionSize);

    std::string badShoff = program, badNames = program;
    uint64_t huge = ~uint64_t(0) - 8;
    std::memcpy(badShoff.data() + 0x28, &huge, 8);     // e_shoff
    badNames[0x3e] = char(0xff), badNames[0x3f] = 0;  // e_shstrndx out of range
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"ELF magic only", program.substr(0, 4)},
        {"truncated headers", program.substr(0, 0x30)},
        {"truncated file", program.substr(0, program.size() / 2)},
        {"section headers out of range", badShoff},
        {"names index out of range", badNames},
        {"not ELF", std::string(4096, 'x')},
    };
    for (const auto& c : cases) {
        codesign::SectionRange r;
        ErrorPtr error;
        EXPECT_FALSE(codesign::findSignatureSection(c.bytes, r, &error)) << c.what;
        EXPECT_TRUE(error) << c.what;
    }

    std::string der;
    std::string blob;
    ASSERT_TRUE(codesign::makeSignatureBlob("abc", 64, blob));
    EXPECT_TRUE(codesign::readSignatureBlob(blob, der));
    EXPECT_EQ(der, "abc");
    EXPECT_TRUE(codesign::readSignatureBlob(std::string(64, '\0'), der));
    EXPECT_TRUE(der.empty());
    std::string longer = blob, trailing = blob, wrongMagic = blob;
    longer[7] = 100;
    trailing[40] = 1;
    wrongMagic[0] = 'X';
    for (const auto& bad : {longer, trailing, wrongMagic, std::string("TCS1")}) EXPECT_FALSE(codesign::readSignatureBlob(bad, der));
    EXPECT_FALSE(codesign::makeSignatureBlob(std::string(60, 'a'), 64, blob));

    codesign::CodeDirectory cd;
    for (const char* text : {"", "<plist><dict/></plist>", "junk",
                             "<plist version=\"1.0\"><dict><key>version</key><integer>1</integer></dict></plist>"})
        EXPECT_FALSE(codesign::CodeDirectory::parse(text, cd)) << text;
}

TEST_F(FormatsTest, BundlesSealEveryFile) {
    const std::string bundle = scratch_ + "/Telvo Server.app";
    const std::string host = hostPath(bundle);
    ASSERT_EQ(run("mkdir -p '" + host + "/Contents/MacOS' '" + host +
                  "/Contents/Resources/SetupBundle.bundle/Contents/MacOS' && cp '" + targetProgram() + "' '" + host +
                  "/Contents/MacOS/Telvo Server' && echo plugin-one > '" + host +
                  "/Contents/Resources/SetupBundle.bundle/Contents/MacOS/SetupBundle' && ln -s MacOS '" + host +
                  "/Contents/Current'"),
              0);
    Value info;
    info.set("CFBundleExecutable", "Telvo Server");
    info.set("CFBundleIdentifier", "com.kestro.TelvoServer");
    ASSERT_TRUE(plist::writeFile(info, bundle + "/Contents/Info.plist"));
    ErrorPtr error;
    ASSERT_TRUE(codesign::signBundle(bundle, "", pki().identity("leaf", "devIdCA"), 0, &error)) << error->message;
    auto checker = MOLCodesignChecker::initWithBinaryPath(bundle, &error);
    ASSERT_TRUE(checker && !error) << (error ? error->description() : "");
    EXPECT_EQ(checker->signingInformation()["identifier"].string(), "com.kestro.TelvoServer");
    EXPECT_EQ(checker->signingInformation()["format"].string(), "bundle");

    const std::string plugin = host + "/Contents/Resources/SetupBundle.bundle/Contents/MacOS/SetupBundle";
    struct Case {
        const char* what;
        std::string change, undo;
    } cases[] = {
        {"plug-in swapped", "echo plugin-two > '" + plugin + "'", "echo plugin-one > '" + plugin + "'"},
        {"file added", "touch '" + host + "/Contents/Resources/extra'", "rm '" + host + "/Contents/Resources/extra'"},
        {"file removed", "mv '" + plugin + "' '" + host + "/saved'", "mv '" + host + "/saved' '" + plugin + "'"},
        {"mode changed", "chmod 4755 '" + plugin + "'", "chmod 644 '" + plugin + "'"},
        {"link retargeted", "ln -sfn Resources '" + host + "/Contents/Current'", "ln -sfn MacOS '" + host + "/Contents/Current'"},
        {"executable modified", "printf x >> '" + host + "/Contents/MacOS/Telvo Server'", ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(run(c.change), 0) << c.what;
        ErrorPtr e;
        EXPECT_FALSE(MOLCodesignChecker::initWithBinaryPath(bundle)) << c.what;
        MOLCodesignChecker::initWithBinaryPath(bundle, &e);
        EXPECT_TRUE(e) << c.what;
        if (!c.undo.empty()) {
            ASSERT_EQ(run(c.undo), 0) << c.what;
            EXPECT_TRUE(MOLCodesignChecker::initWithBinaryPath(bundle)) << "after undoing " << c.what;
        }
    }
}

TEST_F(FormatsTest, OpenSSLAcceptsOurSignaturesAndWeAcceptItsSignatures) {
    std::string host;
    signedCopy("ours", "leaf", "devIdCA", "com.kestro.TelvoServerAgent", &host);
    codesign::SectionRange range;
    auto extract = [&](const std::string& name) {
        std::string bytes, der;
        EXPECT_TRUE(fs::readFile(scratch_ + "/" + name, bytes));
        EXPECT_TRUE(codesign::findSignatureSection(bytes, range));
        EXPECT_TRUE(codesign::readSignatureBlob(std::string_view(bytes).substr(range.offset, range.size), der));
        EXPECT_TRUE(fs::writeFileAtomically(scratch_ + "/" + name + ".der", der));
    };
    extract("ours");
    const std::string dir = hostPath(scratch_);
    auto opensslVerify = [&](const std::string& name) {
        return run("openssl cms -verify -purpose any -binary -inform DER -in '" + dir + "/" + name + ".der' -CAfile " +
                   pki().pem("anchor") + " -out '" + dir + "/" + name + ".cd' 2>/dev/null");
    };
    EXPECT_EQ(opensslVerify("ours"), 0);
    codesign::CodeDirectory cd;
    ASSERT_TRUE(codesign::CodeDirectory::parse(pki().read(dir + "/ours.cd"), cd));
    EXPECT_EQ(cd.identifier, "com.kestro.TelvoServerAgent");
    // The self-made chain is refused by OpenSSL too.
    signedCopy("rogue", "rogueLeaf", "rogueCA");
    extract("rogue");
    EXPECT_NE(opensslVerify("rogue"), 0);

    // Theirs: a code directory signed by `openssl cms -sign`, put into the section by hand.
    std::string plain;
    signedCopy("theirs", "", "");
    ASSERT_TRUE(fs::readFile(scratch_ + "/theirs", plain));
    codesign::CodeDirectory mine;
    mine.identifier = "com.kestro.TelvoServer";
    mine.executableHash = codesign::executableDigest(plain, range);
    ASSERT_TRUE(fs::writeFileAtomically(scratch_ + "/theirs.cd", mine.serialize()));
    ASSERT_EQ(run("openssl cms -sign -binary -nodetach -outform DER -signer " + pki().pem("leaf") + " -inkey " +
                  pki().key("leaf") + " -certfile " + pki().pem("devIdCA") + " -in '" + dir + "/theirs.cd' -out '" + dir +
                  "/theirs.der'"),
              0);
    std::string theirs, section;
    ASSERT_TRUE(fs::readFile(scratch_ + "/theirs.der", theirs));
    ASSERT_TRUE(codesign::makeSignatureBlob(theirs, range.size, section));
    plain.replace(range.offset, range.size, section);
    ASSERT_TRUE(fs::writeFileAtomically(scratch_ + "/theirs", plain, 0755));
    ErrorPtr error;
    auto checker = MOLCodesignChecker::initWithBinaryPath(scratch_ + "/theirs", &error);
    ASSERT_TRUE(checker);
    EXPECT_FALSE(error) << error->description();
    EXPECT_EQ(checker->signingInformation()["identifier"].string(), "com.kestro.TelvoServer");
}

TEST_F(FormatsTest, SigningToolSignsVerifiesAndShows) {
    std::string host;
    signedCopy("tool", "", "", "", &host);
    const std::string tool = std::string(TELVO_BINARY_DIR) + "/programs/telvo-codesign/telvo-codesign";
    const std::string env = "TELVO_ROOT='" + pki().root + "' ";
    ASSERT_EQ(run(tool + " sign --cert " + pki().pem("leaf") + " --key " + pki().key("leaf") + " --chain " +
                  pki().pem("devIdCA") + " --identifier com.kestro.TelvoServer '" + host + "' >/dev/null"),
              0);
    EXPECT_EQ(run(env + tool + " verify --requirement 'identifier com.kestro.TelvoServer and anchor apple generic' '" +
                  host + "' >/dev/null"),
              0);
    EXPECT_EQ(run(env + tool + " verify --requirement 'identifier com.kestro.Other' '" + host + "' 2>/dev/null"), 1);
    EXPECT_EQ(run(env + tool + " show '" + host + "' | grep -q '^Identifier=com.kestro.TelvoServer$'"), 0);
    EXPECT_EQ(run("printf x >> '" + host + "' && " + env + tool + " verify '" + host + "' 2>/dev/null"), 1);
    EXPECT_EQ(run(tool + " frobnicate x 2>/dev/null"), 64);
    // Another anchor store, named on the command line, trusts nothing of ours.
    EXPECT_EQ(run(tool + " verify --anchors '" + hostPath(scratch_) + "' '" + host + "' 2>/dev/null"), 1);
}

}  // namespace
}  // namespace telvo::testing
