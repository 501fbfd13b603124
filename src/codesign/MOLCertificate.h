#pragma once
// MOLCertificate: one X.509 certificate (OpenSSL's X509) and what it says: subject and issuer
// fields, fingerprints, validity dates, serial number, alternative names, whether it is a
// certificate authority. Every derived value is computed on first request and kept.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>
#include <string>
#include <vector>

#include "platform/values/Value.h"

typedef struct x509_st X509;

namespace telvo {

class MOLCertificate;
using MOLCertificatePtr = std::shared_ptr<MOLCertificate>;

class MOLCertificate {
public:
    MOLCertificate() = delete;  // "init" is not available
    ~MOLCertificate();
    MOLCertificate(const MOLCertificate&) = delete;
    MOLCertificate& operator=(const MOLCertificate&) = delete;

    // Keeps (and takes a reference of) a certificate; nullptr for none.
    static MOLCertificatePtr initWithX509(X509* cert);
    // nullptr when the bytes are no certificate or its serial number cannot be read.
    static MOLCertificatePtr initWithCertificateDataDER(const Bytes& der);
    // The first certificate between "-----BEGIN CERTIFICATE-----" and "-----END CERTIFICATE-----".
    static MOLCertificatePtr initWithCertificateDataPEM(const std::string& pem);
    // Every certificate of the text, in order (empty when none).
    static std::vector<MOLCertificatePtr> certificatesFromPEM(const std::string& pem);
    // One wrapper for each element that is data holding a certificate, in order; others skipped.
    static std::vector<MOLCertificatePtr> certificatesFromArray(const ValueArray& array);
    // Archived form: the dictionary {"certData": data}; nullptr for a missing, empty or bad one.
    static MOLCertificatePtr initWithArchive(const Value& archive);
    Value archive() const;

    X509* certRef() const { return cert_; }
    // The DER bytes, fetched afresh on every request.
    Bytes certData() const;

    std::optional<std::string> SHA1();
    std::optional<std::string> SHA256();
    // The subject's most specific common name: its last CN attribute.
    std::optional<std::string> commonName();
    std::optional<std::string> countryName();
    std::optional<std::string> orgName();
    std::optional<std::string> orgUnit();
    std::optional<std::vector<std::string>> orgUnits();
    std::optional<Date> validFrom();
    std::optional<Date> validUntil();
    std::optional<std::string> issuerCommonName();
    std::optional<std::string> issuerCountryName();
    std::optional<std::string> issuerOrgName();
    std::optional<std::string> issuerOrgUnit();
    std::optional<std::vector<std::string>> issuerOrgUnits();
    bool isCA();
    // The serial number as uppercase hexadecimal bytes of its two's-complement DER value,
    // separated by single spaces ("01 A3 FF").
    std::optional<std::string> serialNumber();
    std::optional<std::string> ntPrincipalName();
    std::optional<std::string> dnsName();
    std::optional<std::vector<std::string>> dnsNames();

    bool isEqual(const MOLCertificate& other) const;
    bool operator==(const MOLCertificate& other) const { return isEqual(other); }
    size_t hash() const;
    // "/O=%@/OU=%@/CN=%@/SHA-1=%@", missing values as "(null)".
    std::string description();

    // Whether a derived value (by its operation's name) is cached; for tests.
    bool isMemoized(const std::string& name) const;

private:
    explicit MOLCertificate(X509* cert) : cert_(cert) {}
    using Memo = std::variant<std::monostate, std::string, std::vector<std::string>, Date, bool>;
    template <class T, class F>
    std::optional<T> memoized(const char* name, F compute);

    X509* cert_ = nullptr;
    mutable std::mutex mutex_;
    std::map<std::string, std::optional<Memo>> memoizedData_;
};

}  // namespace telvo
