// Shared set-up of the code-signature tests.
#include "codesign/CodesignFixture.h"

#include <unistd.h>

#include <atomic>

#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Signer.h"
#include "platform/fs/Root.h"

namespace telvo::testing {

void CodesignFixture::SetUp() {
    if (!pki().ok) GTEST_SKIP() << "no test PKI: " << pki().failure;
    static std::atomic<int> counter{0};
    scratch_ = "/scratch-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    fs::setRootForTesting(pki().root);
    ASSERT_EQ(run("mkdir -p '" + hostPath(scratch_) + "'"), 0);
}

void CodesignFixture::TearDown() {
    if (!scratch_.empty()) run("rm -rf '" + hostPath(scratch_) + "'");
    fs::setRootForTesting("");
}

std::string CodesignFixture::targetProgram() {
    return std::string(TELVO_BINARY_DIR) + "/tests/programs/codesign-target/codesign-target";
}

std::string CodesignFixture::signedCopy(const std::string& name, const std::string& leaf, const std::string& chain,
                                        const std::string& identifier, std::string* host) {
    const std::string path = scratch_ + "/" + name;
    EXPECT_EQ(run("cp '" + targetProgram() + "' '" + hostPath(path) + "' && chmod 755 '" + hostPath(path) + "'"), 0);
    if (leaf.empty()) {
        // Unsigned: the section as the linker left it, whatever the build signed.
        std::string bytes, none;
        codesign::SectionRange range;
        EXPECT_TRUE(fs::readFile(path, bytes) && codesign::findSignatureSection(bytes, range));
        bytes.replace(range.offset, range.size, std::string(range.size, '\0'));
        EXPECT_TRUE(fs::writeFileAtomically(path, bytes, 0755));
    } else {
        ErrorPtr error;
        EXPECT_TRUE(codesign::signExecutable(path, identifier, pki().identity(leaf, chain), 0, &error))
            << (error ? error->message : "");
    }
    if (host) *host = hostPath(path);
    return path;
}

}  // namespace telvo::testing
