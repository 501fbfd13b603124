// Downloads: the downloader's callbacks against the HTTPS test server, saving into free update
// folders, unpacking with bsdtar and finding the payload.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "UpdateTestSupport.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "update/FileDownloader.h"
#include "update/FileUnarchiver.h"
#include "update/CurlLibrary.h"
#include "update/HttpTransfer.h"

namespace telvo::update::test {
namespace {

struct DownloadRecorder : FileDownloaderDelegate {
    std::vector<std::string> events;
    std::string data;
    std::vector<double> totals;
    double lastBytes = 0;
    void fileDownloadFailed(FileDownloader*) override { events.push_back("failed"); }
    bool fileDownloadReadData(FileDownloader*, const std::string& d) override {
        events.push_back("data");
        data = d;
        return true;
    }
    void fileDownloadDownloadedBytes(FileDownloader*, double bytes, double total) override {
        lastBytes = bytes;
        totals.push_back(total);
    }
    void fileDownloadFinished(FileDownloader*) override { events.push_back("finished"); }
};

using DownloadTest = UpdateTest;

DownloadRecorder download(const std::string& url) {
    DownloadRecorder recorder;
    auto downloader = FileDownloader::create();
    downloader->setDelegate(&recorder);
    downloader->downloadURL(url);
    dispatch::MainLoop::runUntilIdle();
    downloader->cancel();
    return recorder;
}

TEST_F(DownloadTest, DownloaderReportsDataOrOneFailure) {
    const std::string body(300000, 'z');
    server->addFile("a.zip", body);

    DownloadRecorder ok = download(server->url("/files/a.zip"));
    EXPECT_EQ(ok.events, (std::vector<std::string>{"data", "finished"}));
    EXPECT_EQ(ok.data, body);
    EXPECT_EQ(ok.lastBytes, double(body.size()));
    ASSERT_FALSE(ok.totals.empty());
    EXPECT_EQ(ok.totals.back(), double(body.size()));

    DownloadRecorder redirected = download(server->url("/redirect/a.zip"));
    EXPECT_EQ(redirected.events, (std::vector<std::string>{"data", "finished"}));

    DownloadRecorder unannounced = download(server->url("/nolength/a.zip"));
    EXPECT_EQ(unannounced.events, (std::vector<std::string>{"data", "finished"}));
    ASSERT_FALSE(unannounced.totals.empty());
    EXPECT_EQ(unannounced.totals.back(), -1.0);

    struct Case {
        const char* path;
        const char* why;
    } failures[] = {{"/missing", "404"}, {"/to-http/a.zip", "redirect to http"}, {"/stall", "no data"}};
    setStallSeconds(2);
    for (const auto& c : failures) {
        DownloadRecorder failed = download(server->url(c.path));
        EXPECT_EQ(failed.events, std::vector<std::string>{"failed"}) << c.why;
        EXPECT_TRUE(failed.data.empty()) << c.why;
    }
    // Plain http is refused from the start.
    DownloadRecorder plain = download("http://127.0.0.1:1/a.zip");
    EXPECT_EQ(plain.events, std::vector<std::string>{"failed"});
}

TEST_F(DownloadTest, CancelledDownloadReportsNothing) {
    setStallSeconds(2);
    DownloadRecorder recorder;
    auto downloader = FileDownloader::create();
    downloader->setDelegate(&recorder);
    downloader->downloadURL(server->url("/stall"));
    downloader->cancel();
    dispatch::MainLoop::runUntilIdle();
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(DownloadTest, EachDownloadGetsAFreshPrivateFolder) {
    server->addFile("Telvo Server 3.04.zip", "archive bytes");
    auto engine = makeEngine();
    engine->newVersion = 3.04f;
    for (int i = 0; i < 2; ++i) {
        engine->url = server->url("/files/Telvo%20Server%203.04.zip");
        engine->updateInfo.set("url", engine->url);
        engine->downloadUpdate();
        dispatch::MainLoop::runUntilIdle();
    }
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"downloaded", "downloaded"}));
    EXPECT_EQ(engine->archivePath, root + "/tmp/Telvo Server 3.04 Update 1/Telvo Server 3.04.zip");
    EXPECT_EQ(readText(root + "/tmp/Telvo Server 3.04 Update/Telvo Server 3.04.zip"), "archive bytes");
    struct stat st;
    ASSERT_EQ(stat((root + "/tmp/Telvo Server 3.04 Update 1").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(engine->archivePath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_FALSE(engine->downloader);
}

TEST_F(DownloadTest, TheTemporaryFolderIsAHostPathAlsoOutsideTheRoot) {
    // $TMPDIR (or the home folder) is not under the file-system root: it is made where it is.
    const std::string outside = makeTemporaryFolder("telvo-update-tmp-");
    ASSERT_FALSE(outside.empty());
    setenv("TMPDIR", (outside + "/user/tmp").c_str(), 1);
    server->addFile("Telvo Server 3.04.zip", "archive bytes");
    auto engine = makeEngine();
    engine->newVersion = 3.04f;
    engine->url = server->url("/files/Telvo%20Server%203.04.zip");
    engine->updateInfo.set("url", engine->url);
    engine->downloadUpdate();
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"downloaded"}));
    EXPECT_EQ(readText(outside + "/user/tmp/Telvo Server 3.04 Update/Telvo Server 3.04.zip"), "archive bytes");
    struct stat st;
    ASSERT_EQ(stat((outside + "/user/tmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_FALSE(fs::exists(root + outside));
    removeTree(outside);
}

TEST_F(DownloadTest, ArchiveNamesThatAreNoFileNamesFail) {
    auto engine = makeEngine();
    engine->newVersion = 3.04f;
    for (const char* address : {"https://h/", "https://h/a/..", "https://h/a/.", "https://h/a%2Fb.zip"}) {
        engine->url = address;
        EXPECT_FALSE(engine->saveDataToFile("x")) << address;
    }
    // A download that cannot be kept is reported as a failed download.
    server->addFile("x.zip", "x");
    engine->url = server->url("/files/x.zip/..");
    engine->updateInfo.set("url", server->url("/files/x.zip"));
    engine->downloadUpdate();
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(delegate.events, std::vector<std::string>{"downloadFailed"});
}

// A zip made by Python's zipfile: modes and links only in the central directory.
bool makeZip(const std::string& path, const std::string& script) {
    const std::string file = path + ".py";
    writeText(file, "import zipfile, sys\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                    "def add(name, data, mode):\n"
                    "    i = zipfile.ZipInfo(name)\n"
                    "    i.external_attr = mode << 16\n"
                    "    i.create_system = 3\n"
                    "    z.writestr(i, data)\n" +
                        script + "z.close()\n");
    return std::system(("/usr/bin/python3 '" + file + "' '" + path + "'").c_str()) == 0;
}

TEST_F(DownloadTest, UnpacksWithModesAndLinksAndFindsThePayload) {
    if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
    const std::string folder = root + "/tmp/u";
    fs::createDirectories(folder, 0700);
    const std::string archive = folder + "/update.zip";
    ASSERT_TRUE(makeZip(archive,
                        "add('Telvo Server.app/Contents/MacOS/Telvo Server', '#!/bin/sh\\n', 0o100755)\n"
                        "add('Telvo Server.app/Contents/Info.plist', 'x', 0o100644)\n"
                        "add('Telvo Server.app/Contents/Current', 'MacOS', 0o120777)\n"));
    auto engine = makeEngine();
    engine->archivePath = archive;
    EXPECT_EQ(engine->payloadPath(), folder + "/Telvo Server.app");
    struct stat st;
    ASSERT_EQ(lstat((folder + "/Telvo Server.app/Contents/MacOS/Telvo Server").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(lstat((folder + "/Telvo Server.app/Contents/Current").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // Another name deeper down is found by the walk.
    const std::string other = root + "/tmp/v";
    fs::createDirectories(other, 0700);
    ASSERT_TRUE(makeZip(other + "/u.zip", "add('dir/Other.pkg/file', 'x', 0o100644)\n"));
    engine->archivePath = other + "/u.zip";
    EXPECT_EQ(engine->payloadPath(), other + "/dir/Other.pkg");
}

TEST_F(DownloadTest, RefusesArchivesThatWriteOutside) {
    if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
    struct Case {
        const char* why;
        const char* script;
    } cases[] = {
        {"parent", "add('Telvo Server.app/x', 'x', 0o100644)\nadd('../escaped', 'x', 0o100644)\n"},
        {"inner parent", "add('Telvo Server.app/../../escaped', 'x', 0o100644)\n"},
        {"absolute", "add('Telvo Server.app/x', 'x', 0o100644)\nadd('/tmp/escaped', 'x', 0o100644)\n"},
        {"damaged", "add('Telvo Server.app/x', 'payloaddata', 0o100644)\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string folder = root + "/tmp/case" + std::to_string(n++) + "/inner";
        fs::createDirectories(folder, 0700);
        ASSERT_TRUE(makeZip(folder + "/u.zip", c.script)) << c.why;
        auto engine = makeEngine();
        engine->archivePath = folder + "/u.zip";
        if (std::string(c.why) == "damaged") {
            // A flipped byte in the stored data: bsdtar's check fails and nothing is offered.
            std::string bytes = readText(folder + "/u.zip");
            bytes.replace(bytes.find("payloaddata"), 11, "payloadDATA");
            writeText(folder + "/u.zip", bytes);
        }
        EXPECT_EQ(engine->payloadPath(), "") << c.why;
        EXPECT_FALSE(fs::exists(folder + "/../escaped")) << c.why;
        EXPECT_FALSE(fs::exists(root + "/tmp/escaped")) << c.why;
    }
    EXPECT_NE(access("/tmp/escaped", F_OK), 0);
}

// What an archive holds beyond names: entries that are no file, folder or link, and more bytes
// unpacked than any application that could pass its check (a few kilobytes of zeros deflate
// to megabytes; the limit is made small here). Nothing of a refused archive is written.
TEST_F(DownloadTest, RefusesSpecialEntriesAndArchivesTooLargeWhenUnpacked) {
    if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
    struct RestoreLimit {
        ~RestoreLimit() { FileUnarchiver::setLargestUnpackedForTesting(0); }
    } restore;
    FileUnarchiver::setLargestUnpackedForTesting(uint64_t(1) << 20);
    const std::string deflated = "def big(name, size):\n"
                                 "    i = zipfile.ZipInfo(name)\n"
                                 "    i.external_attr = 0o100644 << 16\n"
                                 "    i.create_system = 3\n"
                                 "    i.compress_type = zipfile.ZIP_DEFLATED\n"
                                 "    z.writestr(i, bytes(size))\n";
    struct Case {
        const char* why;
        std::string script;
        bool unpacked;
    } cases[] = {
        {"device", "add('Telvo Server.app/x', 'x', 0o100644)\nadd('Telvo Server.app/tty', '', 0o020644)\n", false},
        {"socket", "add('Telvo Server.app/x', 'x', 0o100644)\nadd('Telvo Server.app/s', '', 0o140644)\n", false},
        {"one large file", deflated + "big('Telvo Server.app/x', 2 << 20)\n", false},
        {"many files", deflated + "for n in range(5): big('Telvo Server.app/x%d' % n, 300 << 10)\n", false},
        {"within the limit", deflated + "for n in range(3): big('Telvo Server.app/x%d' % n, 300 << 10)\n", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string folder = root + "/tmp/large" + std::to_string(n++);
        fs::createDirectories(folder, 0700);
        ASSERT_TRUE(makeZip(folder + "/u.zip", c.script)) << c.why;
        auto engine = makeEngine();
        engine->archivePath = folder + "/u.zip";
        EXPECT_EQ(engine->payloadPath(), c.unpacked ? folder + "/Telvo Server.app" : "") << c.why;
        EXPECT_EQ(fs::exists(folder + "/Telvo Server.app"), c.unpacked) << c.why;
    }

    // A zip keeps no FIFO (bsdtar makes it an empty file); a tar does, and is unpacked as well.
    const std::string folder = root + "/tmp/fifo";
    fs::createDirectories(folder, 0700);
    writeText(folder + "/t.py", "import tarfile, io, sys\n"
                                "t = tarfile.open(sys.argv[1], 'w')\n"
                                "i = tarfile.TarInfo('Telvo Server.app/x'); i.size = 1; t.addfile(i, io.BytesIO(b'x'))\n"
                                "i = tarfile.TarInfo('Telvo Server.app/pipe'); i.type = tarfile.FIFOTYPE; t.addfile(i)\n"
                                "t.close()\n");
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + folder + "/t.py' '" + folder + "/u.tar'").c_str()), 0);
    auto engine = makeEngine();
    engine->archivePath = folder + "/u.tar";
    EXPECT_EQ(engine->payloadPath(), "");
    EXPECT_FALSE(fs::exists(folder + "/Telvo Server.app"));
}

TEST_F(DownloadTest, LibcurlIsLoadedByTheFirstTransfer) {
    // Transfers on several threads at once, the first of them loading the library: every one is
    // answered, and the library stays for the next.
    server->addFile("small", "hello");
    EXPECT_FALSE(CurlLibrary::loaded());
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                HttpRequest request;
                request.url = server->url("/files/small");
                HttpResponse response = perform(request);
                if (!response.error && response.status == 200 && response.data == "hello") ++answered;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(answered.load(), 20);
    EXPECT_TRUE(CurlLibrary::loaded());
}

TEST_F(DownloadTest, ASharedTemporaryFolderGivesAnotherUserNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "another user's attempts need root to switch to that user";
    passwd* nobody = getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "no user nobody";
    const uid_t other = nobody->pw_uid;
    const gid_t otherGroup = nobody->pw_gid;
    // TMPDIR shared like /tmp (sticky, everybody's); the other user took the first name with a
    // folder of its own and the second with a link to a folder it can read.
    const std::string shared = root + "/shared";
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((shared + "/Telvo Server 3.04 Update").c_str(), 0777), 0);
    ASSERT_EQ(chown((shared + "/Telvo Server 3.04 Update").c_str(), other, otherGroup), 0);
    ASSERT_EQ(mkdir((root + "/open").c_str(), 0777), 0);
    ASSERT_EQ(symlink((root + "/open").c_str(), (shared + "/Telvo Server 3.04 Update 1").c_str()), 0);
    ASSERT_EQ(lchown((shared + "/Telvo Server 3.04 Update 1").c_str(), other, otherGroup), 0);
    setenv("TMPDIR", shared.c_str(), 1);

    server->addFile("Telvo Server 3.04.zip", "archive bytes");
    auto engine = makeEngine();
    engine->newVersion = 3.04f;
    engine->url = server->url("/files/Telvo%20Server%203.04.zip");
    engine->updateInfo.set("url", engine->url);
    engine->downloadUpdate();
    dispatch::MainLoop::runUntilIdle();
    ASSERT_EQ(delegate.events, (std::vector<std::string>{"downloaded"}));
    const std::string folder = shared + "/Telvo Server 3.04 Update 2";
    EXPECT_EQ(engine->archivePath, folder + "/Telvo Server 3.04.zip");
    EXPECT_TRUE(std::filesystem::is_empty(shared + "/Telvo Server 3.04 Update"));
    EXPECT_TRUE(std::filesystem::is_empty(root + "/open"));
    struct stat st;
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());

    // The other user can neither list the folder nor open the archive.
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(otherGroup) != 0 || setuid(other) != 0) _exit(10);
        DIR* d = opendir(folder.c_str());
        if (d || errno != EACCES) _exit(11);
        int fd = open(engine->archivePath.c_str(), O_RDONLY);
        if (fd >= 0 || errno != EACCES) _exit(12);
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
}  // namespace telvo::update::test
