// The property lists the privileged helper carries in sections of its program.
#include <gtest/gtest.h>

#include "codesign/TestPki.h"
#include "helper/CallerCheck.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/Signer.h"
#include "platform/codesign/Status.h"
#include "platform/codesign/ElfSection.h"
#include "platform/fs/Root.h"

namespace telvo::helper {
namespace {

const std::string kProgram = TELVO_HELPER_PROGRAM;

TEST(HelperProgramTest, CarriesItsInfoAndLaunchdListsWhole) {
    fs::setRootForTesting("/");
    ErrorPtr error;
    Value info = codesign::readEmbeddedPropertyListFromFile(kProgram, codesign::kInfoSectionName, &error);
    ASSERT_FALSE(error) << error->description();
    Value expected(ValueDictionary{
        {"CFBundleIdentifier", Value("com.kestro.telvoserver.installerhelper")},
        {"CFBundleInfoDictionaryVersion", Value("6.0")},
        {"CFBundleName", Value("TelvoServerInstaller")},
        {"CFBundleShortVersionString", Value("1.02")},
        {"CFBundleVersion", Value("102")},
    });
    ValueArray requirements;
    for (const std::string& text : authorizedClientRequirements(TELVO_MAKER_TEAM)) requirements.push_back(Value(text));
    expected.set("SMAuthorizedClients", Value(requirements));
    EXPECT_EQ(info, expected) << info.description();
    EXPECT_EQ(makerCallerRules().requirements, authorizedClientRequirements(TELVO_MAKER_TEAM));

    Value launchd = codesign::readEmbeddedPropertyListFromFile(kProgram, codesign::kLaunchdSectionName, &error);
    ASSERT_FALSE(error) << error->description();
    EXPECT_EQ(launchd, Value(ValueDictionary{
                           {"Label", Value("com.kestro.telvoserver.installerhelper")},
                           {"MachServices", Value(ValueDictionary{{"com.kestro.telvoserver.installerhelper", Value(true)}})},
                       }));

    // A program without the section, and what is no program.
    EXPECT_TRUE(codesign::readEmbeddedPropertyListFromFile("/bin/true", codesign::kInfoSectionName, &error).isNull());
    EXPECT_TRUE(error);
    error.reset();
    EXPECT_TRUE(codesign::readEmbeddedPropertyListFromFile("/etc/hostname", codesign::kInfoSectionName, &error).isNull());
    EXPECT_TRUE(error);
    fs::setRootForTesting("");
}

TEST(HelperProgramTest, TheSignatureCoversTheEmbeddedLists) {
    const testing::TestPki& pki = testing::TestPki::shared();
    if (!pki.ok) GTEST_SKIP() << "no test PKI: " << pki.failure;
    fs::setRootForTesting(pki.root);
    const std::string copy = "/helper-copy-" + std::to_string(::getpid());
    ASSERT_EQ(testing::run("cp '" + kProgram + "' '" + fs::resolve(copy) + "'"), 0);
    ErrorPtr error;
    ASSERT_TRUE(codesign::signExecutable(copy, "com.kestro.telvoserver.installerhelper", pki.identity("leaf", "devIdCA"), 0,
                                         &error))
        << (error ? error->message : "");
    std::string bytes, detail;
    ASSERT_TRUE(fs::readFile(copy, bytes));
    Value info;
    EXPECT_EQ(codesign::checkExecutableBytes(bytes, info, detail), codesign::kStatusOK) << detail;
    // A newer version written into the Info list breaks the signature.
    codesign::SectionRange range;
    ASSERT_TRUE(codesign::findSection(bytes, codesign::kInfoSectionName, range));
    size_t at = bytes.find("<string>102</string>", range.offset);
    ASSERT_LT(at, range.offset + range.size);
    bytes[at + 10] = '3';
    EXPECT_NE(codesign::checkExecutableBytes(bytes, info, detail), codesign::kStatusOK);
    EXPECT_EQ(codesign::readEmbeddedPropertyList(bytes, codesign::kInfoSectionName)["CFBundleVersion"], Value("103"));
    testing::run("rm -f '" + fs::resolve(copy) + "'");
    fs::setRootForTesting("");
}

}  // namespace
}  // namespace telvo::helper
