#pragma once
// Signing and verifying a code directory as CMS signed data with the content and the signing
// chain embedded. Verification checks the signature, builds the chain from the embedded
// certificates to an anchor (OpenSSL purpose "any") and then requires the code-signing
// extended key usage of the leaf itself, since OpenSSL has no code-signing purpose.
#include <cstdint>
#include <string>
#include <vector>
#include "platform/Error.h"

namespace telvo::codesign {

// A signing key with its certificate and the intermediates to embed, all PEM text.
struct SigningIdentity {
    std::string certificatePem;
    std::string keyPem;
    std::string chainPem;  // may be empty
    // Reads the three files (the chain file may be empty text); false and *error on failure.
    static bool load(const std::string& certificatePath, const std::string& keyPath,
                     const std::string& chainPath, SigningIdentity& out, ErrorPtr* error = nullptr);
};

bool signContent(const std::string& content, const SigningIdentity& identity, std::string& der,
                 ErrorPtr* error = nullptr);

struct VerifiedContent {
    std::string content;             // the signed bytes (filled once the signature is sound)
    std::vector<std::string> chain;  // DER, leaf first; the anchor last when trusted
};

// kStatusOK when the signature is sound, the chain ends at one of `anchors` (DER) and the leaf
// may sign code. Otherwise the status says why (kStatusNotVerifiable for bytes that are no
// CMS signed data, kStatusSignatureFailed, kStatusUntrusted) with `detail`; `out.chain` then
// holds the embedded chain as far as it can be put in order.
int32_t verifyContent(const std::string& der, const std::vector<std::string>& anchors, VerifiedContent& out,
                      std::string& detail);

// The certificates of PEM text, in order, as DER; junk between them is skipped.
std::vector<std::string> pemCertificates(const std::string& pem);

}  // namespace telvo::codesign
