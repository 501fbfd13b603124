// A bundle's seal as its owner, a local user, would attack it once it is signed: links out of
// the bundle, folders added or opened to others, FIFOs and huge files where the checker reads.
// Root checks; the user changes the bundle.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "codesign/CodesignFixture.h"
#include "codesign/MOLCodesignChecker.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Signer.h"
#include "platform/codesign/Status.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {
namespace {

class BundleSealTest : public CodesignFixture {
protected:
    void SetUp() override {
        CodesignFixture::SetUp();
        if (IsSkipped()) return;
        bundle_ = scratch_ + "/Telvo Server.app";
        host_ = hostPath(bundle_);
        ASSERT_EQ(run("mkdir -p '" + host_ + "/Contents/MacOS' '" + host_ + "/Contents/Resources' && cp '" + targetProgram() +
                      "' '" + host_ + "/Contents/MacOS/Telvo Server' && echo data > '" + host_ +
                      "/Contents/Resources/data' && ln -s ../MacOS '" + host_ + "/Contents/Resources/Programs'"),
                  0);
        Value info;
        info.set("CFBundleExecutable", "Telvo Server");
        info.set("CFBundleIdentifier", "com.kestro.TelvoServer");
        ASSERT_TRUE(plist::writeFile(info, bundle_ + "/Contents/Info.plist"));
        outside_ = hostPath(scratch_ + "/outside");
        ASSERT_EQ(run("mkdir -p '" + outside_ + "' && echo outside > '" + outside_ + "/file'"), 0);
    }
    void TearDown() override {
        if (madeUser_) {
            run("chown -R root:root '" + host_ + "' '" + outside_ + "'");
            EXPECT_EQ(run("userdel " + user_ + " >/dev/null 2>&1"), 0) << "userdel " << user_;
        }
        CodesignFixture::TearDown();
    }
    bool sign(ErrorPtr* error = nullptr) {
        return codesign::signBundle(bundle_, "", pki().identity("leaf", "devIdCA"), 0, error);
    }
    // The check as root: status and detail.
    int32_t check(std::string& detail) {
        int32_t status = 0;
        auto code = codesign::Code::createWithPath(bundle_, status);
        if (!code) return status;
        Value info;
        return code->checkValidity(info, detail);
    }
    // A throw-away user who then owns the bundle and the folder outside it.
    void becomeOwnedByAUser() {
        if (geteuid() != 0) GTEST_SKIP() << "the attacks need root to check and a test user to change the bundle";
        if (std::system("command -v useradd >/dev/null 2>&1") != 0) GTEST_SKIP() << "useradd is needed for a test user";
        user_ = "tvscs" + std::to_string(getpid());
        madeUser_ = run("useradd -M -s /bin/false " + user_ + " >/dev/null 2>&1") == 0;
        ASSERT_TRUE(madeUser_) << "useradd " << user_;
        ASSERT_EQ(run("chmod 755 '" + pki().root + "' '" + hostPath(scratch_) + "' && chown -R " + user_ + ": '" + host_ +
                      "' '" + outside_ + "'"),
                  0);
    }
    // A shell command run as that user; its exit status.
    int asUser(const std::string& command) {
        passwd* pw = getpwnam(user_.c_str());
        if (!pw) return -1;
        pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) _exit(99);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(98);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The check on another thread: done within `seconds`, with its status and detail. A FIFO
    // the check blocks on is opened for writing afterwards, so that the thread can end.
    bool checkWithin(double seconds, int32_t& status, std::string& detail, const std::string& fifo = {}) {
        auto result = std::make_shared<std::promise<std::pair<int32_t, std::string>>>();
        auto future = result->get_future();
        std::string path = bundle_;
        std::thread([result, path] {
            int32_t s = 0;
            std::string d;
            auto code = codesign::Code::createWithPath(path, s);
            Value info;
            if (code) s = code->checkValidity(info, d);
            result->set_value({s, d});
        }).detach();
        bool done = future.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
        if (!done && !fifo.empty()) {
            int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
            future.wait_for(std::chrono::seconds(10));
        }
        if (done) std::tie(status, detail) = future.get();
        return done;
    }

    std::string bundle_, host_, outside_, user_;
    bool madeUser_ = false;
};

// Links whose target leaves the bundle, and links on the way to the executable, are refused
// when the bundle is signed; a link inside the bundle is sealed by its target text.
TEST_F(BundleSealTest, LinksOutOfTheBundleOrOnTheWayToTheExecutableAreRefusedAtSigning) {
    ErrorPtr error;
    ASSERT_TRUE(sign(&error)) << error->message;
    std::string detail;
    EXPECT_EQ(check(detail), codesign::kStatusOK) << detail;
    const std::string resources = host_ + "/Contents/Resources";
    struct Case {
        const char* what;
        std::string change, undo, why;
    } cases[] = {
        {"absolute link out", "ln -s '" + outside_ + "/file' '" + resources + "/out'", "rm '" + resources + "/out'",
         "points outside the bundle"},
        {"relative link out", "ln -s ../../../outside/file '" + resources + "/out'", "rm '" + resources + "/out'",
         "points outside the bundle"},
        {"link out of Contents", "ln -s ../../x '" + resources + "/out'", "rm '" + resources + "/out'",
         "points outside the bundle"},
        // "Programs" leads to MacOS; the ".." after it would climb from wherever it leads.
        {"climbing after a link", "ln -s Programs/../../.. '" + resources + "/out'", "rm '" + resources + "/out'",
         "points outside the bundle"},
        {"executable folder a link", "mv '" + host_ + "/Contents/MacOS' '" + outside_ + "/MacOS' && ln -s '" + outside_ +
                                         "/MacOS' '" + host_ + "/Contents/MacOS'",
         "rm '" + host_ + "/Contents/MacOS' && mv '" + outside_ + "/MacOS' '" + host_ + "/Contents/MacOS'", "symbolic link"},
        {"executable a link", "mv '" + host_ + "/Contents/MacOS/Telvo Server' '" + outside_ + "/exe' && ln -s '" +
                                  outside_ + "/exe' '" + host_ + "/Contents/MacOS/Telvo Server'",
         "rm '" + host_ + "/Contents/MacOS/Telvo Server' && mv '" + outside_ + "/exe' '" + host_ +
             "/Contents/MacOS/Telvo Server'",
         "symbolic link"},
    };
    for (const auto& c : cases) {
        // Signed as it was, then changed: the check refuses it, and so does signing it again.
        ASSERT_TRUE(sign(&error)) << c.what << ": " << error->message;
        ASSERT_EQ(run(c.change), 0) << c.what;
        EXPECT_NE(check(detail), codesign::kStatusOK) << c.what;
        EXPECT_NE(detail.find(c.why), std::string::npos) << c.what << ": " << detail;
        ErrorPtr e;
        EXPECT_FALSE(sign(&e)) << c.what;
        ASSERT_TRUE(e) << c.what;
        EXPECT_NE(e->message.find(c.why), std::string::npos) << c.what << ": " << e->message;
        ASSERT_EQ(run(c.undo), 0) << c.what;
    }
    ASSERT_TRUE(sign(&error)) << error->message;
    EXPECT_EQ(check(detail), codesign::kStatusOK) << detail;
}

// What the bundle's owner can do to a signed bundle without touching a sealed file's bytes.
TEST_F(BundleSealTest, FoldersAreSealedByNameAndModeAgainstTheBundlesOwner) {
    ErrorPtr error;
    ASSERT_TRUE(sign(&error)) << error->message;
    becomeOwnedByAUser();
    if (IsSkipped()) return;
    std::string detail;
    EXPECT_EQ(check(detail), codesign::kStatusOK) << detail;
    const std::string contents = host_ + "/Contents";
    struct Case {
        const char* what;
        std::string change, undo;
    } cases[] = {
        {"empty folder added", "mkdir '" + contents + "/Resources/Plugins'", "rmdir '" + contents + "/Resources/Plugins'"},
        {"folder opened to everyone", "chmod 777 '" + contents + "/MacOS'", "chmod 755 '" + contents + "/MacOS'"},
        {"folder renamed", "mv '" + contents + "/Resources' '" + contents + "/Other'",
         "mv '" + contents + "/Other' '" + contents + "/Resources'"},
        {"Contents opened to everyone", "chmod 777 '" + contents + "'", "chmod 755 '" + contents + "'"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(asUser(c.change), 0) << c.what;
        EXPECT_EQ(check(detail), codesign::kStatusResourcesInvalid) << c.what << ": " << detail;
        ASSERT_EQ(asUser(c.undo), 0) << c.what;
        EXPECT_EQ(check(detail), codesign::kStatusOK) << "after undoing " << c.what << ": " << detail;
    }
}

// A FIFO or a huge file where the checker reads gives a clear error at once: it is never
// opened blocking, never read whole, and the sealed files' total and number are capped.
TEST_F(BundleSealTest, FifosAndHugeFilesGiveAClearErrorWithinASecond) {
    ErrorPtr error;
    ASSERT_TRUE(sign(&error)) << error->message;
    becomeOwnedByAUser();
    if (IsSkipped()) return;
    const std::string signature = host_ + "/Contents/_CodeSignature/CodeSignature";
    const std::string exe = host_ + "/Contents/MacOS/Telvo Server";
    ASSERT_EQ(run("cp '" + signature + "' '" + outside_ + "/signature' && cp '" + exe + "' '" + outside_ + "/exe'"), 0);
    struct Case {
        const char* what;
        std::string change, undo, fifo, why;
    } cases[] = {
        {"signature a FIFO", "rm '" + signature + "' && mkfifo '" + signature + "'",
         "rm '" + signature + "' && cp '" + outside_ + "/signature' '" + signature + "'", signature, "not a regular file"},
        {"executable a FIFO", "rm '" + exe + "' && mkfifo '" + exe + "'", "rm '" + exe + "' && cp '" + outside_ + "/exe' '" + exe + "'",
         exe, "not a regular file"},
        {"signature of 1000 MiB", "truncate -s 1000M '" + signature + "'",
         "cp '" + outside_ + "/signature' '" + signature + "'", "", "larger than 16 MiB"},
        {"executable of 3 GiB", "truncate -s 3G '" + exe + "'", "cp '" + outside_ + "/exe' '" + exe + "'", "",
         "larger than 1 GiB"},
        {"sealed files over 4 GiB", "truncate -s 5G '" + host_ + "/Contents/Resources/data'",
         "echo data > '" + host_ + "/Contents/Resources/data'", "", "more than 4 GiB"},
        {"100001 empty files", "mkdir '" + host_ + "/Contents/Resources/many' && cd '" + host_ +
             "/Contents/Resources/many' && seq 1 100001 | xargs touch",
         "rm -rf '" + host_ + "/Contents/Resources/many'", "", "more than 100000 files and folders"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(asUser(c.change), 0) << c.what;
        int32_t status = 0;
        std::string detail;
        EXPECT_TRUE(checkWithin(1.0, status, detail, c.fifo)) << c.what << " blocked the check";
        EXPECT_NE(status, codesign::kStatusOK) << c.what;
        EXPECT_NE(detail.find(c.why), std::string::npos) << c.what << ": " << detail;
        ASSERT_EQ(asUser(c.undo), 0) << c.what;
        EXPECT_TRUE(checkWithin(60, status, detail)) << "after undoing " << c.what;
        EXPECT_EQ(status, codesign::kStatusOK) << "after undoing " << c.what << ": " << detail;
    }
}

// Long "and" and "or" chains cost no stack: parsed, evaluated and freed flat.
TEST(RequirementChainTest, ChainsOfHundredsOfThousandsOfTermsNeitherRecurseNorFail) {
    for (const char* op : {" and ", " or "}) {
        std::string text = "identifier a";
        for (int i = 1; i < 300000; ++i) text += std::string(op) + "identifier a";
        auto requirement = codesign::Requirement::parse(text);
        ASSERT_TRUE(requirement) << op;
        codesign::RequirementContext context;
        context.identifier = "a";
        EXPECT_TRUE(requirement->evaluate(context)) << op;
        context.identifier = "b";
        EXPECT_FALSE(requirement->evaluate(context)) << op;
    }
    // Grouping still holds inside a chain.
    codesign::RequirementContext context;
    context.identifier = "b";
    EXPECT_TRUE(codesign::Requirement::parse("(identifier a or identifier b) and (identifier x or identifier b) and identifier b")
                    ->evaluate(context));
    EXPECT_FALSE(codesign::Requirement::parse("(identifier a or identifier b) and identifier x or identifier c")->evaluate(context));
}

}  // namespace
}  // namespace telvo::testing
