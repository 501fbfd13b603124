#pragma once
// Shared set-up of the code-signature tests: the test PKI, the private root with its anchor
// store, a scratch folder inside that root, and signed copies of the test program.
#include <gtest/gtest.h>

#include <string>

#include "codesign/TestPki.h"
#include "platform/codesign/Cms.h"

namespace telvo::testing {

class CodesignFixture : public ::testing::Test {
public:
    // The built test program.
    static std::string targetProgram();

protected:
    void SetUp() override;
    void TearDown() override;

    const TestPki& pki() const { return TestPki::shared(); }
    // A copy of the test program under the root ("/scratch/<name>"; host path in *host),
    // signed with `leaf`/`chain` unless `leaf` is empty.
    std::string signedCopy(const std::string& name, const std::string& leaf, const std::string& chain,
                           const std::string& identifier = "com.kestro.TelvoServerAgent", std::string* host = nullptr);
    std::string hostPath(const std::string& rootPath) const { return pki().root + rootPath; }

    std::string scratch_;  // "/scratch-<n>" under the root
};

}  // namespace telvo::testing
