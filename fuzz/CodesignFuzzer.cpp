// The code-signature parsers: the ELF signature section and its blob, the CMS signature and
// the code directory inside it, PEM and DER certificates and requirement texts. Damaged input
// gives an error, never a crash or a read past its end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "codesign/MOLCertificate.h"
#include "platform/codesign/Cms.h"
#include "platform/codesign/CodeDirectory.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Requirement.h"

using namespace telvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    codesign::SectionRange range;
    if (codesign::findSignatureSection(input, range)) {
        std::string der;
        if (range.offset + range.size > input.size()) __builtin_trap();
        codesign::readSignatureBlob(std::string_view(input).substr(range.offset, range.size), der);
        codesign::executableDigest(input, range);
    }
    std::string der;
    codesign::readSignatureBlob(input, der);

    codesign::VerifiedContent verified;
    std::string detail;
    codesign::verifyContent(input, {}, verified, detail);

    codesign::CodeDirectory cd;
    if (codesign::CodeDirectory::parse(input, cd)) {
        codesign::CodeDirectory again;
        if (!codesign::CodeDirectory::parse(cd.serialize(), again) || !(again == cd)) __builtin_trap();
    }

    for (const auto& c : MOLCertificate::certificatesFromPEM(input)) {
        c->description();
        c->serialNumber();
        c->dnsNames();
        c->ntPrincipalName();
        c->isCA();
    }
    if (auto c = MOLCertificate::initWithCertificateDataDER(Bytes(data, data + size))) {
        c->description();
        c->serialNumber();
        c->orgUnits();
        c->validUntil();
    }

    codesign::RequirementContext context;
    context.identifier = "com.kestro.TelvoServer";
    if (auto r = codesign::Requirement::parse(input)) r->evaluate(context);
    return 0;
}
