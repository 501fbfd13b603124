// The certificate wrapper over certificates of the test PKI.
#include <gtest/gtest.h>

#include "codesign/MOLCertificate.h"
#include "codesign/TestPki.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {
namespace {

class CertificateTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestPki::shared().ok) GTEST_SKIP() << "no test PKI: " << TestPki::shared().failure;
    }
    MOLCertificatePtr load(const std::string& name) {
        auto c = MOLCertificate::initWithCertificateDataPEM(TestPki::shared().read(TestPki::shared().pem(name)));
        EXPECT_TRUE(c) << name;
        return c;
    }
};

TEST_F(CertificateTest, SubjectAndIssuerFields) {
    auto leaf = load("leaf");
    ASSERT_TRUE(leaf);
    EXPECT_EQ(leaf->commonName(), kTestCommonName);
    EXPECT_EQ(leaf->orgName(), "Kestro Software");
    EXPECT_EQ(leaf->orgUnit(), kTestTeam);
    EXPECT_EQ(leaf->countryName(), "US");
    EXPECT_EQ(leaf->issuerCommonName(), "Developer ID Certification Authority");
    EXPECT_EQ(leaf->issuerOrgName(), "Kestro Test Authority");
    EXPECT_EQ(leaf->issuerOrgUnit(), "Certification");
    EXPECT_EQ(leaf->issuerCountryName(), "US");
    EXPECT_FALSE(leaf->isCA());
    EXPECT_EQ(leaf->serialNumber(), "0D");  // the test PKI's serial 13
    EXPECT_EQ(load("anchor")->serialNumber(), "10 06");
    EXPECT_FALSE(leaf->dnsName());
    EXPECT_FALSE(leaf->ntPrincipalName());
    ASSERT_TRUE(leaf->validFrom() && leaf->validUntil());
    EXPECT_NEAR(leaf->validUntil()->seconds - leaf->validFrom()->seconds, 30 * 86400.0, 1.0);
    EXPECT_TRUE(load("anchor")->isCA());
    EXPECT_EQ(leaf->description(), "/O=Kestro Software/OU=" + std::string(kTestTeam) + "/CN=" + kTestCommonName +
                                       "/SHA-1=" + *leaf->SHA1());
}

TEST_F(CertificateTest, EdgeCases) {
    auto anchor = load("anchor");  // no organisational unit
    auto two = load("twoOU");      // two units, two common names, no basic constraints
    ASSERT_TRUE(anchor && two);
    EXPECT_FALSE(anchor->orgUnit());
    EXPECT_FALSE(anchor->orgUnits());  // missing, not empty
    EXPECT_NE(anchor->description().find("/OU=(null)/CN=Kestro Test Root CA/"), std::string::npos);
    EXPECT_EQ(two->orgUnits(), (std::vector<std::string>{"First Unit", "Second Unit"}));
    EXPECT_EQ(two->orgUnit(), "First Unit");
    EXPECT_EQ(two->commonName(), "Inner Name");  // the most specific
    EXPECT_EQ(two->dnsNames(), (std::vector<std::string>{"one.example", "two.example"}));
    EXPECT_EQ(two->dnsName(), "one.example");
    EXPECT_EQ(two->ntPrincipalName(), "user@example");
    EXPECT_FALSE(two->isMemoized("isCA"));
    EXPECT_FALSE(two->isCA());
    EXPECT_TRUE(two->isMemoized("isCA"));  // the missing value is cached, not asked again
    EXPECT_FALSE(two->isCA());

    for (const char* name : {"anchor", "leaf", "twoOU"}) {
        auto c = load(name);
        ASSERT_TRUE(c);
        const std::string sha1 = c->SHA1().value_or(""), sha256 = c->SHA256().value_or("");
        EXPECT_EQ(sha1.size(), 40u) << name;
        EXPECT_EQ(sha256.size(), 64u) << name;
        EXPECT_EQ((sha1 + sha256).find_first_not_of("0123456789abcdef"), std::string::npos) << name;
    }
}

TEST_F(CertificateTest, PemTexts) {
    const auto& pki = TestPki::shared();
    const std::string a = pki.read(pki.pem("leaf")), b = pki.read(pki.pem("devIdCA"));
    auto two = MOLCertificate::certificatesFromPEM("junk before\n" + a + "\nsome text between\n" + b + "trailing junk");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0]->commonName(), kTestCommonName);
    EXPECT_EQ(two[1]->commonName(), "Developer ID Certification Authority");

    std::string truncatedEnd = a.substr(0, a.find("-----END"));
    std::string damaged = a;
    damaged[damaged.find('\n') + 5] = '!';
    struct Case {
        const char* what;
        std::string text;
        size_t count;
    } cases[] = {
        {"no begin marker", "MIIB plain text", 0},
        {"empty", "", 0},
        {"empty body", "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n", 0},
        {"bad base64", damaged, 0},
        {"begin without end takes the rest", truncatedEnd, 1},
        {"valid then garbage block", a + "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(MOLCertificate::certificatesFromPEM(c.text).size(), c.count) << c.what;
    EXPECT_FALSE(MOLCertificate::initWithCertificateDataPEM("no markers"));
    EXPECT_FALSE(MOLCertificate::initWithCertificateDataDER(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}));
    EXPECT_FALSE(MOLCertificate::initWithCertificateDataDER(Bytes{}));
}

TEST_F(CertificateTest, ArchivesArraysEqualityAndHash) {
    auto leaf = load("leaf");
    ASSERT_TRUE(leaf);
    // Through the property-list text, as it would be stored.
    Value archived = plist::parse(plist::serialize(leaf->archive()));
    auto back = MOLCertificate::initWithArchive(archived);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*leaf));
    EXPECT_EQ(back->hash(), leaf->hash());
    EXPECT_FALSE(MOLCertificate::initWithArchive(Value(ValueDictionary{})));
    Value empty;
    empty.set("certData", Value(Bytes{}));
    EXPECT_FALSE(MOLCertificate::initWithArchive(empty));
    Value junk;
    junk.set("certData", Value::data("not a certificate"));
    EXPECT_FALSE(MOLCertificate::initWithArchive(junk));

    auto anchor = load("anchor");
    ValueArray mixed{Value(leaf->certData()), Value("text"), Value(42), Value::data("junk"), Value(anchor->certData())};
    auto certs = MOLCertificate::certificatesFromArray(mixed);
    ASSERT_EQ(certs.size(), 2u);
    EXPECT_TRUE(certs[0]->isEqual(*leaf));
    EXPECT_TRUE(certs[1]->isEqual(*anchor));
    EXPECT_FALSE(certs[0]->isEqual(*anchor));
    EXPECT_TRUE(MOLCertificate::certificatesFromArray({}).empty());
}

}  // namespace
}  // namespace telvo::testing
