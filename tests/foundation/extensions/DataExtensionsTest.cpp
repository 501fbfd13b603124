// Data and string extensions: gzip, AES-256 with the system's key rules, MD5, Base64,
// trimming and the null object.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "foundation/extensions/DataAES256.h"
#include "foundation/extensions/DataZLibSupport.h"
#include "foundation/extensions/NullSafe.h"
#include "foundation/extensions/StringKXRAdditions.h"
#include "foundation/extensions/StringMD5.h"

using namespace telvo;

namespace {

const std::string kKeyString = "k3y0f29lowercaselettersdigits";  // 29 characters like the system's

std::string tempDir() {
    char tmpl[] = "/tmp/telvo-ext-XXXXXX";
    return mkdtemp(tmpl);
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string keyHex(const std::string& key) {
    std::string hex;
    char buf[3];
    for (size_t i = 0; i < 32; ++i) {
        snprintf(buf, sizeof buf, "%02x", i < key.size() ? (unsigned char)key[i] : 0);
        hex += buf;
    }
    return hex;
}

}  // namespace

TEST(DataZLibSupport, EmptyAndOneByte) {
    EXPECT_EQ(deflate(Bytes{}), Bytes{});
    EXPECT_EQ(inflate(Bytes{}), Bytes{});

    ASSERT_EQ(run("command -v gzip >/dev/null"), 0) << "gzip is not installed";
    auto gz = deflate(Bytes{'A'});
    ASSERT_TRUE(gz);
    // Header (10), compressed byte, CRC-32 and length (8).
    EXPECT_GE(gz->size(), 19u);
    const std::string dir = tempDir();
    writeFile(dir + "/one.gz", *gz);
    ASSERT_EQ(run("gzip -dc '" + dir + "/one.gz' > '" + dir + "/one'"), 0);
    EXPECT_EQ(readFile(dir + "/one"), Bytes{'A'});
    std::filesystem::remove_all(dir);
    EXPECT_EQ(inflate(*gz), Bytes{'A'});
}

TEST(DataAES256, SizesAndRoundTrip) {
    for (size_t n : {size_t(0), size_t(1), size_t(16), size_t(31), size_t(4096)}) {
        Bytes plain(n, uint8_t(n));
        auto cipher = AES256EncryptWithKey(plain, kKeyString);
        ASSERT_TRUE(cipher);
        EXPECT_EQ(cipher->size(), (n / 16 + 1) * 16) << n;
        EXPECT_EQ(AES256DecryptWithKey(*cipher, kKeyString), plain) << n;
    }
}

TEST(DataAES256, MatchesOpensslWithZeroPaddedKeyAndZeroIv) {
    ASSERT_EQ(run("command -v openssl >/dev/null"), 0) << "openssl is not installed";
    const std::string dir = tempDir();
    const std::string enc = "openssl enc -aes-256-cbc -K " + keyHex(kKeyString) + " -iv " + std::string(32, '0');
    Bytes plain = bytes("<plist><dict><key>command</key><string>install</string></dict></plist>");

    writeFile(dir + "/ours", *AES256EncryptWithKey(plain, kKeyString));
    ASSERT_EQ(run(enc + " -d -in '" + dir + "/ours' -out '" + dir + "/ours.plain'"), 0);
    EXPECT_EQ(readFile(dir + "/ours.plain"), plain);

    writeFile(dir + "/theirs.plain", plain);
    ASSERT_EQ(run(enc + " -in '" + dir + "/theirs.plain' -out '" + dir + "/theirs'"), 0);
    EXPECT_EQ(AES256DecryptWithKey(readFile(dir + "/theirs"), kKeyString), plain);
    std::filesystem::remove_all(dir);
}

TEST(DataAES256, WrongKeysAndUnfitKeys) {
    Bytes plain = bytes("attack at dawn, bring the installer");
    auto cipher = AES256EncryptWithKey(plain, kKeyString);
    ASSERT_TRUE(cipher);
    std::string other = kKeyString;
    other[0] = 'x';
    auto wrong = AES256DecryptWithKey(*cipher, other);
    EXPECT_TRUE(!wrong || *wrong != plain);
    // Damaged input.
    EXPECT_FALSE(AES256DecryptWithKey(Bytes(cipher->begin(), cipher->end() - 3), kKeyString));
    // A key of exactly 32 bytes fits; one of 33 fits no AES-256 key and is refused rather than
    // silently replaced by a zero key.
    EXPECT_TRUE(AES256EncryptWithKey(plain, std::string(32, 'a')));
    EXPECT_FALSE(AES256EncryptWithKey(plain, std::string(33, 'a')));
    EXPECT_FALSE(AES256DecryptWithKey(*cipher, std::string(40, 'a')));
    // The key is a C string: bytes after a NUL do not count.
    EXPECT_EQ(AES256EncryptWithKey(plain, std::string("abc\0def", 7)), AES256EncryptWithKey(plain, "abc"));
    // Short keys are zero-padded: "abc" and "abc\0\0" are the same key.
    EXPECT_EQ(AES256DecryptWithKey(*AES256EncryptWithKey(plain, "abc"), std::string("abc\0\0", 5)), plain);
}

TEST(StringMD5, DigestsOfAllUtf8Bytes) {
    struct Case { std::string text, md5; };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"\xc3\xa9", "66ddcd97cfdeabb2f6fb8a999b4bc76f"},    // "é": both bytes count
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MD5(c.text), c.md5) << c.text;
    }
    // The same as md5sum over the bytes.
    ASSERT_EQ(run("command -v md5sum >/dev/null"), 0);
    FILE* p = popen("printf '00:1c:42:aa:bb:cc' | md5sum", "r");
    char buf[64] = {};
    ASSERT_TRUE(fgets(buf, sizeof buf, p));
    pclose(p);
    EXPECT_EQ(MD5("00:1c:42:aa:bb:cc"), std::string(buf, 32));
}

TEST(StringMD5, NumericForm) {
    // MD5("") = d41d8cd98f00b204e9800998ecf8427e: "d" 100, "4" 52, "1" 49, ... with every "0" gone.
    std::string expected;
    for (char c : std::string("d41d8cd98f00b204e9800998ecf8427e")) expected += std::to_string(int(c));
    expected.erase(std::remove(expected.begin(), expected.end(), '0'), expected.end());
    EXPECT_EQ(MD5Numeric(""), expected);
    EXPECT_EQ(MD5Numeric("").find('0'), std::string::npos);
    EXPECT_EQ(MD5Numeric("").substr(0, 6), "152491");  // "d"=100 -> "1", "4"=52, "1"=49, "d"
}

TEST(DataAES256, Base64Table) {
    struct Case { std::string data; unsigned line; std::string text; };
    const Case cases[] = {
        {"", 0, ""},
        {"f", 0, "Zg=="},
        {"fo", 0, "Zm8="},
        {"foo", 0, "Zm9v"},
        {"foobar", 0, "Zm9vYmFy"},
        {"foobar", 4, "Zm9v\nYmFy\n"},      // the full last line ends with "\n"
        {"foobarb", 4, "Zm9v\nYmFy\nYg==\n"},
        {"foobarbaz", 6, "Zm9vYmFy\nYmF6"},  // 6 rounds up to 8 characters per line
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base64EncodingWithLineLength(bytes(c.data), c.line), c.text) << c.data << "/" << c.line;
        EXPECT_EQ(initWithBase64EncodedString(c.text), bytes(c.data)) << c.text;
    }
    EXPECT_EQ(initWithBase64EncodedString(std::nullopt), Bytes{});
    EXPECT_EQ(initWithBase64EncodedString(std::string("Zm 9v\r\nYm*Fy")), bytes("foobar"));  // others skipped
    EXPECT_EQ(initWithBase64EncodedString(std::string("Zm9v=YmFy")), bytes("foo"));        // "=" ends it
    EXPECT_EQ(initWithBase64EncodedString(std::string("Zm9vYg")), bytes("foo"));           // unfinished, no "="
}

TEST(StringKXRAdditions, TrimmingTable) {
    const CharacterSet ws = CharacterSet::whitespaceAndNewlineCharacterSet();
    const CharacterSet xy = CharacterSet::characterSetWithCharactersInString("xy\xc3\xa9");
    struct Case { std::string in; const CharacterSet* set; std::string leading, trailing; };
    const Case cases[] = {
        {"  \t\nabc \n", &ws, "abc \n", "  \t\nabc"},
        {"abc", &ws, "abc", "abc"},
        {"", &ws, "", ""},
        {" \n\t\r ", &ws, "", ""},                                   // only members: ""
        {"\xc2\xa0" "a\xe2\x80\xa8", &ws, "a\xe2\x80\xa8", "\xc2\xa0" "a"},  // NBSP, LINE SEPARATOR
        {"xy\xc3\xa9zxy", &xy, "zxy", "xy\xc3\xa9z"},
        {"\xc3\xa9\xc3\xa9", &xy, "", ""},
        {"x\xffx", &xy, "\xffx", "x\xff"},                            // a stray byte is kept
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stringByTrimmingLeadingCharactersInSet(c.in, *c.set), c.leading) << c.in;
        EXPECT_EQ(stringByTrimmingTrailingCharactersInSet(c.in, *c.set), c.trailing) << c.in;
    }
    EXPECT_EQ(stringByTrimmingLeadingWhitespaceAndNewlineCharacters("\n x "), "x ");
    EXPECT_EQ(stringByTrimmingTrailingWhitespaceAndNewlineCharacters("\n x \n"), "\n x");
}

TEST(NullSafe, NullObjectAnswersZero) {
    const Value& null = nullObject();
    EXPECT_TRUE(null.isNull());
    EXPECT_EQ(null.intValue(), 0);
    EXPECT_EQ(null.count(), 0u);  // "length"
    EXPECT_EQ(null.doubleValue(), 0.0);
    EXPECT_FALSE(null.boolValue());
    EXPECT_EQ(null.stringValue(), "");
    EXPECT_TRUE(null["anything"].isNull());
    EXPECT_TRUE(null.at(3).isNull());
    EXPECT_TRUE(null.array().empty());
}
