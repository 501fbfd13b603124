// The certificate wrapper over OpenSSL.
#include "codesign/MOLCertificate.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <functional>
#include <variant>

#include "platform/crypto/Digest.h"

namespace telvo {
namespace {

std::string utf8(const ASN1_STRING* s) {
    unsigned char* out = nullptr;
    int n = ASN1_STRING_to_UTF8(&out, s);
    std::string text = n >= 0 ? std::string(reinterpret_cast<char*>(out), size_t(n)) : std::string();
    OPENSSL_free(out);
    return text;
}

std::vector<std::string> nameValues(const X509_NAME* name, int nid) {
    std::vector<std::string> values;
    if (!name) return values;
    for (int i = X509_NAME_get_index_by_NID(name, nid, -1); i >= 0; i = X509_NAME_get_index_by_NID(name, nid, i))
        values.push_back(utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i))));
    return values;
}

std::optional<std::string> first(const std::optional<std::vector<std::string>>& list) {
    if (!list || list->empty()) return std::nullopt;
    return list->front();
}

std::optional<std::vector<std::string>> nonEmpty(std::vector<std::string> v) {
    if (v.empty()) return std::nullopt;
    return v;
}

std::optional<Date> asnDate(const ASN1_TIME* t) {
    if (!t) return std::nullopt;
    struct tm tm{};
    if (ASN1_TIME_to_tm(t, &tm) != 1) return std::nullopt;
    return Date{double(timegm(&tm))};
}

// Base64 with white space allowed between characters; nothing for any other character or a
// length that does not fit.
std::optional<Bytes> base64(const std::string& text) {
    std::string clean;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') return std::nullopt;
        clean += c;
    }
    if (clean.empty() || clean.size() % 4 != 0) return std::nullopt;
    Bytes out(clean.size() / 4 * 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()), int(clean.size()));
    if (n < 0) return std::nullopt;
    size_t pad = 0;
    if (clean.back() == '=') ++pad;
    if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++pad;
    out.resize(size_t(n) - pad);
    return out;
}

const char kBegin[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

template <class Visit>
void forAltNames(X509* cert, Visit visit) {
    auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (!names) return;
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) visit(sk_GENERAL_NAME_value(names, i));
    GENERAL_NAMES_free(names);
}

}  // namespace

MOLCertificate::~MOLCertificate() { X509_free(cert_); }

MOLCertificatePtr MOLCertificate::initWithX509(X509* cert) {
    if (!cert) return nullptr;
    X509_up_ref(cert);
    return MOLCertificatePtr(new MOLCertificate(cert));
}

MOLCertificatePtr MOLCertificate::initWithCertificateDataDER(const Bytes& der) {
    if (der.empty()) return nullptr;
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, long(der.size()));
    if (!cert) return nullptr;
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    if (p != der.data() + der.size() || !serial || ASN1_STRING_length(serial) <= 0) {
        X509_free(cert);
        return nullptr;
    }
    return MOLCertificatePtr(new MOLCertificate(cert));
}

MOLCertificatePtr MOLCertificate::initWithCertificateDataPEM(const std::string& pem) {
    size_t begin = pem.find(kBegin);
    if (begin == std::string::npos) return nullptr;
    begin += sizeof(kBegin) - 1;
    size_t end = pem.find(kEnd, begin);
    if (end == std::string::npos) return nullptr;
    std::string body = pem.substr(begin, end - begin);
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) return nullptr;
    auto der = base64(body);
    if (!der) return nullptr;
    return initWithCertificateDataDER(*der);
}

std::vector<MOLCertificatePtr> MOLCertificate::certificatesFromPEM(const std::string& pem) {
    std::vector<MOLCertificatePtr> out;
    size_t at = 0;
    for (;;) {
        size_t begin = pem.find(kBegin, at);
        if (begin == std::string::npos) break;
        size_t end = pem.find(kEnd, begin + sizeof(kBegin) - 1);
        // A begin marker without its end takes the rest of the text.
        std::string block = pem.substr(begin, end == std::string::npos ? std::string::npos : end - begin) + kEnd;
        if (auto c = initWithCertificateDataPEM(block)) out.push_back(std::move(c));
        if (end == std::string::npos) break;
        at = end + sizeof(kEnd) - 1;
    }
    return out;
}

std::vector<MOLCertificatePtr> MOLCertificate::certificatesFromArray(const ValueArray& array) {
    std::vector<MOLCertificatePtr> out;
    for (const auto& v : array) {
        if (!v.isData()) continue;
        if (auto c = initWithCertificateDataDER(v.bytes())) out.push_back(std::move(c));
    }
    return out;
}

MOLCertificatePtr MOLCertificate::initWithArchive(const Value& archive) {
    const Value& data = archive["certData"];
    if (!data.isData() || data.count() == 0) return nullptr;
    return initWithCertificateDataDER(data.bytes());
}

Value MOLCertificate::archive() const {
    Value v(ValueDictionary{});
    v.set("certData", Value(certData()));
    return v;
}

Bytes MOLCertificate::certData() const {
    unsigned char* p = nullptr;
    int n = i2d_X509(cert_, &p);
    Bytes out;
    if (n > 0) out.assign(p, p + n);
    OPENSSL_free(p);
    return out;
}

template <class T, class F>
std::optional<T> MOLCertificate::memoized(const char* name, F compute) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = memoizedData_.find(name);
        if (it != memoizedData_.end()) {
            if (!it->second) return std::nullopt;
            return std::get<T>(*it->second);
        }
    }
    std::optional<T> value = compute();
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = memoizedData_[name];
    slot = value ? std::optional<Memo>(Memo(*value)) : std::nullopt;
    return value;
}

bool MOLCertificate::isMemoized(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return memoizedData_.count(name) != 0;
}

std::optional<std::string> MOLCertificate::SHA1() {
    return memoized<std::string>("SHA1", [&]() -> std::optional<std::string> {
        Bytes d = certData();
        return crypto::hexString(crypto::sha1(d.data(), d.size()));
    });
}

std::optional<std::string> MOLCertificate::SHA256() {
    return memoized<std::string>("SHA256", [&]() -> std::optional<std::string> {
        Bytes d = certData();
        return crypto::hexString(crypto::sha256(d.data(), d.size()));
    });
}

#define TELVO_NAME_FIELD(method, which, nid)                                                             \
    std::optional<std::string> MOLCertificate::method() {                                               \
        return memoized<std::string>(#method, [&]() -> std::optional<std::string> {                     \
            auto v = nameValues(which(cert_), nid);                                                     \
            if (v.empty()) return std::nullopt;                                                         \
            return v.back();                                                                            \
        });                                                                                             \
    }
// The most specific attribute is the last one of its kind (for the common name this is what
// the signature checker's callers compare).
TELVO_NAME_FIELD(commonName, X509_get_subject_name, NID_commonName)
#undef TELVO_NAME_FIELD
#define TELVO_NAME_FIELD(method, which, nid)                                                             \
    std::optional<std::string> MOLCertificate::method() {                                               \
        return memoized<std::string>(#method, [&]() -> std::optional<std::string> {                     \
            auto v = nameValues(which(cert_), nid);                                                     \
            if (v.empty()) return std::nullopt;                                                         \
            return v.front();                                                                           \
        });                                                                                             \
    }
TELVO_NAME_FIELD(countryName, X509_get_subject_name, NID_countryName)
TELVO_NAME_FIELD(orgName, X509_get_subject_name, NID_organizationName)
TELVO_NAME_FIELD(issuerCommonName, X509_get_issuer_name, NID_commonName)
TELVO_NAME_FIELD(issuerCountryName, X509_get_issuer_name, NID_countryName)
TELVO_NAME_FIELD(issuerOrgName, X509_get_issuer_name, NID_organizationName)
#undef TELVO_NAME_FIELD

std::optional<std::vector<std::string>> MOLCertificate::orgUnits() {
    return memoized<std::vector<std::string>>("orgUnits", [&] {
        return nonEmpty(nameValues(X509_get_subject_name(cert_), NID_organizationalUnitName));
    });
}
std::optional<std::string> MOLCertificate::orgUnit() {
    return memoized<std::string>("orgUnit", [&] { return first(orgUnits()); });
}
std::optional<std::vector<std::string>> MOLCertificate::issuerOrgUnits() {
    return memoized<std::vector<std::string>>("issuerOrgUnits", [&] {
        return nonEmpty(nameValues(X509_get_issuer_name(cert_), NID_organizationalUnitName));
    });
}
std::optional<std::string> MOLCertificate::issuerOrgUnit() {
    return memoized<std::string>("issuerOrgUnit", [&] { return first(issuerOrgUnits()); });
}

std::optional<Date> MOLCertificate::validFrom() {
    return memoized<Date>("validFrom", [&] { return asnDate(X509_get0_notBefore(cert_)); });
}
std::optional<Date> MOLCertificate::validUntil() {
    return memoized<Date>("validUntil", [&] { return asnDate(X509_get0_notAfter(cert_)); });
}

bool MOLCertificate::isCA() {
    // Cached as missing when the certificate has no basic constraints.
    auto v = memoized<std::string>("isCA", [&]() -> std::optional<std::string> {
        auto* bc = static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(cert_, NID_basic_constraints, nullptr, nullptr));
        if (!bc) return std::nullopt;
        std::string answer = bc->ca ? "Yes" : "No";
        BASIC_CONSTRAINTS_free(bc);
        return answer;
    });
    return v && *v == "Yes";
}

std::optional<std::string> MOLCertificate::serialNumber() {
    return memoized<std::string>("serialNumber", [&]() -> std::optional<std::string> {
        const ASN1_INTEGER* serial = X509_get0_serialNumber(cert_);
        if (!serial || ASN1_STRING_length(serial) <= 0) return std::nullopt;
        unsigned char* der = nullptr;
        int n = i2d_ASN1_INTEGER(serial, &der);
        if (n <= 2) {
            OPENSSL_free(der);
            return std::nullopt;
        }
        // Skip the tag and length: the content octets are the two's-complement value.
        int header = (der[1] & 0x80) ? 2 + (der[1] & 0x7f) : 2;
        static const char kHex[] = "0123456789ABCDEF";
        std::string text;
        for (int i = header; i < n; ++i) {
            if (!text.empty()) text += ' ';
            text += kHex[der[i] >> 4];
            text += kHex[der[i] & 15];
        }
        OPENSSL_free(der);
        if (text.empty()) return std::nullopt;
        return text;
    });
}

std::optional<std::string> MOLCertificate::ntPrincipalName() {
    return memoized<std::string>("ntPrincipalName", [&]() -> std::optional<std::string> {
        std::optional<std::string> found;
        ASN1_OBJECT* upn = OBJ_txt2obj("1.3.6.1.4.1.311.20.2.3", 1);
        forAltNames(cert_, [&](GENERAL_NAME* name) {
            if (found || name->type != GEN_OTHERNAME) return;
            if (OBJ_cmp(name->d.otherName->type_id, upn) != 0) return;
            ASN1_TYPE* value = name->d.otherName->value;
            if (value && (value->type == V_ASN1_UTF8STRING || value->type == V_ASN1_IA5STRING ||
                          value->type == V_ASN1_PRINTABLESTRING))
                found = utf8(value->value.asn1_string);
        });
        ASN1_OBJECT_free(upn);
        return found;
    });
}

std::optional<std::vector<std::string>> MOLCertificate::dnsNames() {
    return memoized<std::vector<std::string>>("dnsNames", [&] {
        std::vector<std::string> names;
        forAltNames(cert_, [&](GENERAL_NAME* name) {
            if (name->type == GEN_DNS) names.push_back(utf8(name->d.dNSName));
        });
        return nonEmpty(std::move(names));
    });
}
std::optional<std::string> MOLCertificate::dnsName() {
    return memoized<std::string>("dnsName", [&] { return first(dnsNames()); });
}

bool MOLCertificate::isEqual(const MOLCertificate& other) const {
    return this == &other || certData() == other.certData();
}

size_t MOLCertificate::hash() const {
    Bytes d = certData();
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

std::string MOLCertificate::description() {
    auto s = [](const std::optional<std::string>& v) { return v ? *v : std::string("(null)"); };
    return "/O=" + s(orgName()) + "/OU=" + s(orgUnit()) + "/CN=" + s(commonName()) + "/SHA-1=" + s(SHA1());
}

}  // namespace telvo
