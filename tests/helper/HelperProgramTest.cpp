// The property lists the privileged helper carries in sections of its program.
#include <gtest/gtest.h>

#include "helper/CallerCheck.h"
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

}  // namespace
}  // namespace telvo::helper
