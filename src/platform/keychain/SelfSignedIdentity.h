#pragma once
// Makes a new TLS identity for this installation: a fresh RSA key and a self-signed
// certificate, packed as a DER PKCS#12 archive whose key carries the given label.
#include <string>
#include "platform/Error.h"

namespace telvo::keychain {

// Answers the archive, protected by `passphrase`, or an empty string with *error set.
std::string makeSelfSignedPKCS12(const std::string& commonName, const std::string& label,
                                 const std::string& passphrase, ErrorPtr* error = nullptr);

}  // namespace telvo::keychain
