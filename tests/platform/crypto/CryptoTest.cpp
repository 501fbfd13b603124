// Compression, AES-256 and digests, checked against the real gzip and openssl tools.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/crypto/Aes256.h"
#include "platform/crypto/Digest.h"
#include "platform/crypto/Gzip.h"
#include "platform/crypto/Random.h"

using namespace telvo::crypto;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/telvo-crypto-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell command; fails the test loudly when the tool is missing.
int run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void requireTool(const char* tool) {
    ASSERT_EQ(run(std::string("command -v ") + tool + " >/dev/null"), 0)
        << tool << " is not installed; scripts/install-deps.sh installs it";
}

Bytes sample(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t((i * 7919) ^ (i >> 5));
    return b;
}

const Bytes kKey = [] {
    Bytes k(32, 0);
    std::string s = "abcdefghijklmnopqrstuvwxyz012";  // 29 characters, zero-padded to 32
    std::copy(s.begin(), s.end(), k.begin());
    return k;
}();
const std::string kKeyHex = hexString(kKey);
const std::string kZeroIv(32, '0');

}  // namespace

TEST(Gzip, OutputInflatesWithGzipTool) {
    requireTool("gzip");
    TempDir dir;
    // One byte, a text that compresses well, and a payload larger than several 16384-byte steps.
    for (size_t n : {size_t(1), size_t(1000), size_t(200000)}) {
        Bytes input = n == 1000 ? Bytes(1000, 'x') : sample(n);
        auto gz = gzipDeflate(input);
        ASSERT_TRUE(gz);
        ASSERT_GE(gz->size(), 18u);
        EXPECT_EQ((*gz)[0], 0x1f);
        EXPECT_EQ((*gz)[1], 0x8b);
        writeFile(dir.file("in.gz"), *gz);
        ASSERT_EQ(run("gzip -dc '" + dir.file("in.gz") + "' > '" + dir.file("out") + "'"), 0) << n;
        EXPECT_EQ(readFile(dir.file("out")), input) << n;
    }
}

TEST(Gzip, InflatesWhatGzipToolWrites) {
    requireTool("gzip");
    TempDir dir;
    Bytes input = sample(70000);
    writeFile(dir.file("plain"), input);
    ASSERT_EQ(run("gzip -c '" + dir.file("plain") + "' > '" + dir.file("plain.gz") + "'"), 0);
    auto out = zlibInflate(readFile(dir.file("plain.gz")));
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, input);
}

TEST(Gzip, EmptyInputAndDamagedStreams) {
    EXPECT_EQ(gzipDeflate(Bytes{}), Bytes{});
    EXPECT_EQ(zlibInflate(Bytes{}), Bytes{});

    Bytes input = sample(5000);
    auto gz = gzipDeflate(input);
    ASSERT_TRUE(gz);
    Bytes truncated(gz->begin(), gz->begin() + long(gz->size() / 2));
    EXPECT_FALSE(zlibInflate(truncated));
    Bytes noTrailer(gz->begin(), gz->end() - 4);
    EXPECT_FALSE(zlibInflate(noTrailer));
    Bytes corrupt = *gz;
    corrupt[gz->size() - 6] ^= 0xff;  // CRC-32
    EXPECT_FALSE(zlibInflate(corrupt));
    EXPECT_FALSE(zlibInflate(Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_FALSE(zlibInflate(Bytes{0x78}));
}

TEST(Gzip, InflatesZlibWrappedAndHighlyCompressedStreams) {
    // zlib wrapper of "hello" (python: zlib.compress(b"hello")).
    const Bytes zlibHello = {0x78, 0x9c, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x07, 0x00, 0x06, 0x2c, 0x02, 0x15};
    auto out = zlibInflate(zlibHello);
    ASSERT_TRUE(out);
    EXPECT_EQ(std::string(out->begin(), out->end()), "hello");

    // 8 MB of zeros compress to a few kilobytes; inflating must not crawl.
    Bytes zeros(8 << 20, 0);
    auto gz = gzipDeflate(zeros);
    ASSERT_TRUE(gz);
    EXPECT_LT(gz->size(), 20000u);
    auto back = zlibInflate(*gz);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, zeros);
}

TEST(Aes256, EncryptionDecryptsWithOpensslTool) {
    requireTool("openssl");
    TempDir dir;
    for (size_t n : {size_t(0), size_t(15), size_t(16), size_t(1000)}) {
        Bytes plain = sample(n);
        auto cipher = aes256Cbc(CipherOperation::Encrypt, kKey, Bytes{}, plain);
        ASSERT_TRUE(cipher);
        EXPECT_EQ(cipher->size(), (n / 16 + 1) * 16) << n;
        writeFile(dir.file("c"), *cipher);
        ASSERT_EQ(run("openssl enc -d -aes-256-cbc -K " + kKeyHex + " -iv " + kZeroIv + " -in '" + dir.file("c") +
                      "' -out '" + dir.file("p") + "'"),
                  0)
            << n;
        EXPECT_EQ(readFile(dir.file("p")), plain) << n;
    }
}

TEST(Aes256, DecryptsWhatOpensslToolEncrypts) {
    requireTool("openssl");
    TempDir dir;
    Bytes plain = sample(333);
    writeFile(dir.file("p"), plain);
    ASSERT_EQ(run("openssl enc -aes-256-cbc -K " + kKeyHex + " -iv " + kZeroIv + " -in '" + dir.file("p") +
                  "' -out '" + dir.file("c") + "'"),
              0);
    auto back = aes256Cbc(CipherOperation::Decrypt, kKey, Bytes{}, readFile(dir.file("c")));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, plain);
}

TEST(Aes256, RefusesBadKeysAndCiphertexts) {
    Bytes plain = sample(40);
    auto cipher = aes256Cbc(CipherOperation::Encrypt, kKey, Bytes{}, plain);
    ASSERT_TRUE(cipher);
    EXPECT_FALSE(aes256Cbc(CipherOperation::Encrypt, Bytes(31, 1), Bytes{}, plain));
    EXPECT_FALSE(aes256Cbc(CipherOperation::Encrypt, kKey, Bytes(8, 0), plain));
    Bytes ragged(cipher->begin(), cipher->end() - 1);
    EXPECT_FALSE(aes256Cbc(CipherOperation::Decrypt, kKey, Bytes{}, ragged));
    EXPECT_FALSE(aes256Cbc(CipherOperation::Decrypt, kKey, Bytes{}, Bytes{}));
    // A wrong key fails the padding check in almost every case; over many keys most must fail
    // and none may answer the plaintext.
    int refused = 0;
    for (int i = 0; i < 64; ++i) {
        Bytes other = kKey;
        other[31] = uint8_t(i + 1);
        auto wrong = aes256Cbc(CipherOperation::Decrypt, other, Bytes{}, *cipher);
        if (!wrong) {
            ++refused;
        } else {
            EXPECT_NE(*wrong, plain);
        }
    }
    EXPECT_GT(refused, 50);
}

TEST(Digest, KnownVectors) {
    struct Case { std::string input, md5, sha1, sha256; };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"\xc3\xa9", "66ddcd97cfdeabb2f6fb8a999b4bc76f", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hexString(md5(c.input)), c.md5) << c.input;
        if (!c.sha1.empty()) {
            EXPECT_EQ(hexString(sha1(c.input)), c.sha1) << c.input;
        }
        if (!c.sha256.empty()) {
            EXPECT_EQ(hexString(sha256(c.input)), c.sha256) << c.input;
        }
    }
}

TEST(Random, DrawsFromKernelAndStaysInBounds) {
    std::set<uint64_t> seen;
    for (int i = 0; i < 100; ++i) seen.insert(randomUInt64());
    EXPECT_EQ(seen.size(), 100u);  // a collision among 100 64-bit draws would mean a broken source
    Bytes big = randomBytes(4096);
    EXPECT_NE(big, Bytes(4096, 0));
    for (int i = 0; i < 1000; ++i) EXPECT_LT(randomUniform(7), 7u);
    EXPECT_EQ(randomUniform(0), 0u);
    EXPECT_EQ(randomUniform(1), 0u);
    std::set<uint32_t> faces;
    for (int i = 0; i < 500; ++i) faces.insert(randomUniform(6));
    EXPECT_EQ(faces.size(), 6u);
}
