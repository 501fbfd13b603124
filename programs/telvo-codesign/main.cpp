// telvo-codesign: signs programs and bundles, verifies them against the anchor store and an
// optional requirement, and shows what a signature carries.
//   telvo-codesign sign --cert <pem> --key <pem> [--chain <pem>] --identifier <id> [--flags <n>] <path>
//   telvo-codesign verify [--anchors <folder>] [--requirement <text>] <path>
//   telvo-codesign show [--anchors <folder>] <path>
// Paths are taken as they are; the anchor store is the one under TELVO_ROOT unless --anchors
// names another folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>

#include "codesign/MOLCodesignChecker.h"
#include "platform/codesign/AnchorStore.h"
#include "platform/codesign/Signer.h"
#include "platform/fs/Root.h"

using namespace telvo;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: telvo-codesign sign --cert <pem> --key <pem> [--chain <pem>] [--identifier <id>] [--flags <n>] <path>\n"
                 "       telvo-codesign verify [--anchors <folder>] [--requirement <text>] <path>\n"
                 "       telvo-codesign show [--anchors <folder>] <path>\n");
    return 64;
}

// Absolute host path: the tool works on the files it is given, not under the root.
std::string hostPath(const std::string& p) {
    if (!p.empty() && p[0] == '/') return p;
    char cwd[4096];
    return std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string command = argv[1];
    std::map<std::string, std::string> options;
    std::string path;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) == 0) {
            if (i + 1 >= argc) return usage();
            options[a.substr(2)] = argv[++i];
        } else if (path.empty()) {
            path = hostPath(a);
        } else {
            return usage();
        }
    }
    if (path.empty()) return usage();
    // The anchor store as TELVO_ROOT places it; every other path is the host's own.
    codesign::setAnchorFolder(options.count("anchors") ? hostPath(options["anchors"]) : fs::resolve(codesign::kAnchorFolder));
    unsetenv("TELVO_ROOT");

    if (command == "sign") {
        if (!options.count("cert") || !options.count("key")) return usage();
        codesign::SigningIdentity identity;
        ErrorPtr error;
        if (!codesign::SigningIdentity::load(hostPath(options["cert"]), hostPath(options["key"]),
                                             options.count("chain") ? hostPath(options["chain"]) : "", identity, &error)) {
            std::fprintf(stderr, "telvo-codesign: %s\n", error->message.c_str());
            return 1;
        }
        uint32_t flags = uint32_t(std::strtoul(options.count("flags") ? options["flags"].c_str() : "0", nullptr, 0));
        struct stat st{};
        bool bundle = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        std::string identifier = options["identifier"];
        if (!bundle && identifier.empty()) {
            std::string base = path.substr(path.find_last_of('/') + 1);
            identifier = base;
        }
        bool ok = bundle ? codesign::signBundle(path, identifier, identity, flags, &error)
                         : codesign::signExecutable(path, identifier, identity, flags, &error);
        if (!ok) {
            std::fprintf(stderr, "telvo-codesign: %s: %s\n", path.c_str(), error->message.c_str());
            return 1;
        }
        std::printf("%s: signed\n", path.c_str());
        return 0;
    }

    ErrorPtr error;
    auto checker = MOLCodesignChecker::initWithBinaryPath(path, &error);
    if (command == "show") {
        if (!checker) {
            std::fprintf(stderr, "telvo-codesign: %s\n", error->description().c_str());
            return 1;
        }
        Value info = checker->signingInformation();
        std::printf("Path=%s\nIdentifier=%s\nFormat=%s\nFlags=0x%x\n", path.c_str(), info["identifier"].string().c_str(),
                    info["format"].string().c_str(), checker->signatureFlags());
        int i = 0;
        for (const auto& c : checker->certificates())
            std::printf("Certificate %d=%s\n", i++, c->description().c_str());
        if (auto r = checker->requirement()) std::printf("Designated=%s\n", r->text().c_str());
        std::printf("Valid=%s\n", error ? error->description().c_str() : "yes");
        return error ? 1 : 0;
    }
    if (command == "verify") {
        if (!checker || error) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error ? error->description().c_str() : "invalid");
            return 1;
        }
        if (options.count("requirement")) {
            ErrorPtr rerr;
            auto requirement = codesign::Requirement::parse(options["requirement"], &rerr);
            if (!requirement) {
                std::fprintf(stderr, "telvo-codesign: %s\n", rerr->message.c_str());
                return 64;
            }
            if (!checker->validateWithRequirement(requirement)) {
                std::fprintf(stderr, "%s: does not satisfy its requirement\n", path.c_str());
                return 1;
            }
        }
        std::printf("%s: valid\n", path.c_str());
        return 0;
    }
    return usage();
}
