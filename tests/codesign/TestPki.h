#pragma once
// A test PKI made once per build tree with the openssl command, plus a private root whose
// anchor store trusts the maker's anchor:
//   anchor                  the maker's root (in the anchor store)
//   devIdCA                 intermediate carrying 1.2.840.113635.100.6.2.6
//   plainCA                 intermediate without it
//   leaf                    "Developer ID Application: Kestro Software (KESTRO1234)", OU KESTRO1234,
//                           1.2.840.113635.100.6.1.13, code signing, issued by devIdCA
//   wrongOU                 the same leaf with OU WRONGTEAM1
//   plainLeaf               the same leaf issued by plainCA
//   storeLeaf               a leaf carrying 1.2.840.113635.100.6.1.9, issued by plainCA
//   otherLeaf               another leaf like `leaf` (another key), issued by devIdCA
//   rogueRoot, rogueCA, rogueLeaf  a self-made chain with the same common names
//   noEku                   a leaf issued by devIdCA without the code-signing usage
//   twoOU                   self-signed, two OUs, two CNs, no basic constraints, DNS and UPN names
#include <string>

#include "platform/codesign/Cms.h"

namespace telvo::testing {

struct TestPki {
    std::string folder;  // where the files are (<name>.pem, <name>.key), shared by the test processes
    std::string root;    // this process's own file-system root with the anchor store
    bool ok = false;
    std::string failure;

    std::string pem(const std::string& name) const { return folder + "/" + name + ".pem"; }
    std::string key(const std::string& name) const { return folder + "/" + name + ".key"; }
    std::string read(const std::string& path) const;
    // A signing identity: the leaf and its issuer's chain.
    codesign::SigningIdentity identity(const std::string& leaf, const std::string& chain) const;

    static const TestPki& shared();
};

// The team and company of the test maker.
constexpr const char* kTestTeam = "KESTRO1234";
constexpr const char* kTestCommonName = "Developer ID Application: Kestro Software (KESTRO1234)";

// Runs a shell command; its exit status.
int run(const std::string& command);

}  // namespace telvo::testing
