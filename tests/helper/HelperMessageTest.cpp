// The command messages of the privileged helper: encryption with the shared key (checked
// against the openssl command-line tool both ways) and the strict decoding.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include "helper/HelperCommandKey.h"
#include "helper/HelperMessage.h"
#include "platform/values/PropertyList.h"

namespace telvo::helper {
namespace {

std::string keyHex() {
    // The key string's bytes, zero-padded to 32.
    std::string hex;
    char buffer[3];
    for (size_t i = 0; i < 32; ++i) {
        unsigned char c = i < sizeof(kHelperCommandKey) - 1 ? kHelperCommandKey[i] : 0;
        std::snprintf(buffer, sizeof buffer, "%02x", c);
        hex += buffer;
    }
    return hex;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TemporaryFolder {
public:
    TemporaryFolder() {
        char pattern[] = "/tmp/telvo-helper-message-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TemporaryFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string path;
};

TEST(HelperMessageTest, OpensslEncryptsAndDecryptsWithTheSharedKey) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "the openssl tool is needed as the peer";
    TemporaryFolder folder;
    const std::string openssl = "openssl enc -aes-256-cbc -K " + keyHex() + " -iv 00000000000000000000000000000000";
    HelperCommand command = HelperCommand::make("touch", {{"file", Value("/Library/LaunchAgents/")}});
    command.set("reply", Value(true));

    // Ours to openssl.
    std::optional<Bytes> ours = encodeHelperMessage(command);
    ASSERT_TRUE(ours);
    { std::ofstream(folder.path + "/ours.bin", std::ios::binary).write(reinterpret_cast<const char*>(ours->data()), ours->size()); }
    ASSERT_EQ(std::system((openssl + " -d -in " + folder.path + "/ours.bin -out " + folder.path + "/ours.plist").c_str()), 0);
    EXPECT_EQ(plist::parse(readAll(folder.path + "/ours.plist")), command.dictionary());

    // Openssl's to ours.
    { std::ofstream(folder.path + "/theirs.plist") << plist::serialize(command.dictionary()); }
    ASSERT_EQ(std::system((openssl + " -e -in " + folder.path + "/theirs.plist -out " + folder.path + "/theirs.bin").c_str()), 0);
    const std::string theirs = readAll(folder.path + "/theirs.bin");
    std::string why;
    std::optional<HelperCommand> decoded = decodeHelperMessage(Bytes(theirs.begin(), theirs.end()), why);
    ASSERT_TRUE(decoded) << why;
    EXPECT_EQ(decoded->dictionary(), command.dictionary());
}

TEST(HelperMessageTest, DecodesOnlyFlatDictionariesOfStringsNumbersAndBooleans) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    const std::string tail = "</plist>";
    struct Case {
        const char* what;
        std::string body;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"strings, numbers, booleans",
         "<dict><key>command</key><string>sleep</string><key>time</key><real>0.5</real>"
         "<key>n</key><integer>3</integer><key>reply</key><true/></dict>",
         true},
        {"a nested dictionary", "<dict><key>command</key><string>x</string><key>d</key><dict/></dict>", false},
        {"a nested array", "<dict><key>command</key><string>x</string><key>a</key><array><string>y</string></array></dict>", false},
        {"data", "<dict><key>command</key><string>x</string><key>d</key><data>AAEC</data></dict>", false},
        {"a date", "<dict><key>command</key><string>x</string><key>d</key><date>2024-01-01T00:00:00Z</date></dict>", false},
        {"an array at the top", "<array><string>command</string></array>", false},
        {"a string at the top", "<string>command</string>", false},
        {"no command", "<dict><key>file</key><string>/etc</string></dict>", false},
        {"a number as the command", "<dict><key>command</key><integer>1</integer></dict>", false},
        {"deep nesting", std::string(5000, ' ') + std::string(2000, '<') , false},
        {"damaged", "<dict><key>command</key><string>x</dict>", false},
        // The fuzzer's find: a tag cut off at the end of the text.
        {"cut off after <", "<dict><key>command</key><string>x</string></dict><", false},
        {"cut off after </", "<dict><key>command</key><string>x</string></dict></", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string why;
        std::optional<HelperCommand> decoded = parseHelperCommand(head + c.body + tail, why);
        EXPECT_EQ(decoded.has_value(), c.accepted) << why;
        EXPECT_EQ(why.empty(), c.accepted) << why;
    }
    // Texts that end inside a tag (what the fuzzer found first).
    for (const char* text : {"<", "</", "<d", "x<", "<dict", "<array/", "<dict><"}) {
        std::string why;
        EXPECT_FALSE(parseHelperCommand(text, why)) << text;
    }
    // Deeply nested arrays are refused without being parsed.
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<array>";
    std::string why;
    EXPECT_FALSE(parseHelperCommand(head + "<dict><key>command</key><string>x</string><key>a</key>" + deep + tail, why));
    EXPECT_EQ(why, "the message is not a flat dictionary");
}

TEST(HelperMessageTest, RefusesUndecryptableAndOversizedMessages) {
    std::string why;
    HelperCommand command = HelperCommand::make("touch", {{"file", Value("/tmp/x")}});
    std::optional<Bytes> message = encodeHelperMessage(command, "anotherkeyof29charactersxxxxx");
    ASSERT_TRUE(message);
    EXPECT_FALSE(decodeHelperMessage(*message, why));
    EXPECT_EQ(why, "the message could not be decrypted");

    EXPECT_FALSE(decodeHelperMessage(Bytes{1, 2, 3}, why));
    EXPECT_EQ(why, "the message could not be decrypted");

    HelperCommand large = HelperCommand::make("touch", {{"file", Value(std::string(kMaxHelperMessageSize, 'a'))}});
    std::optional<Bytes> big = encodeHelperMessage(large);
    ASSERT_TRUE(big);
    EXPECT_FALSE(decodeHelperMessage(*big, why));
    EXPECT_EQ(why, "the message is larger than 65536 bytes");

    std::optional<Bytes> good = encodeHelperMessage(command);
    ASSERT_TRUE(good);
    std::optional<HelperCommand> decoded = decodeHelperMessage(*good, why);
    ASSERT_TRUE(decoded) << why;
    EXPECT_EQ(decoded->text("file"), "/tmp/x");
}

}  // namespace
}  // namespace telvo::helper
