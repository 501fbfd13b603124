// The program itself on the harness's display, its screen grabbed: as root it connects; as
// "nobody" (its own copy of the bundle, its home in a scratch folder) the daemon refuses it,
// it says why in one line and shows "notconnected".
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <filesystem>
#include <fstream>

#include "AppDaemonFixture.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {
namespace {

constexpr uid_t kNobody = 65534;

class AppProgramTest : public AppDaemonTest {
protected:
    void TearDown() override {
        stopProgram();
        AppDaemonTest::TearDown();
    }
    // Starts the program of `bundle` as `uid` with HOME `home`; its standard error goes to `log`.
    void startProgram(const std::string& bundle, uid_t uid, const std::string& home, const std::string& log) {
        int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(out, 0);
        std::string program = bundle + "/Contents/MacOS/Telvo Server";
        program_ = fork();
        if (program_ == 0) {
            dup2(out, 2);
            dup2(out, 1);
            if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(uid) != 0)) _exit(126);
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // after the switch, which clears it
            setenv("TELVO_ROOT", root_.c_str(), 1);
            setenv("HOME", home.c_str(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            unsetenv("TELVO_APP_BUNDLE");
            execl(program.c_str(), program.c_str(), nullptr);
            _exit(127);
        }
        ::close(out);
    }
    void stopProgram() {
        if (program_ <= 0) return;
        kill(program_, SIGTERM);
        for (int i = 0; i < 500 && waitpid(program_, nullptr, WNOHANG) == 0; ++i) usleep(10000);
        kill(program_, SIGKILL);
        waitpid(program_, nullptr, 0);
        program_ = -1;
    }
    // How many pixels of the screen have exactly this colour.
    int pixelsOf(QRgb colour) {
        QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < shot.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
            for (int x = 0; x < shot.width(); ++x) n += (line[x] & 0xffffff) == (colour & 0xffffff);
        }
        return n;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    pid_t program_ = -1;
};

// The fills of the "connected" and "notconnected" images.
constexpr QRgb kConnectedFill = 0x3fbf5a;
constexpr QRgb kNotConnectedFill = 0x9aa0a6;

TEST_F(AppProgramTest, AsRootConnectedAsNobodyRefusedWithOneLineWhy) {
    ASSERT_TRUE(std::filesystem::exists(std::string(kBundle) + "/Contents/MacOS/Telvo Server")) << kBundle;
    ASSERT_TRUE(startDaemon());
    // Installed as current as the bundle's plug-in, so that no installer covers the window.
    std::filesystem::create_directories(host("/Library/Application Support/Telvo Server/TelvoServerAgent.app/Contents"));
    ASSERT_TRUE(plist::writeFile(Value(ValueDictionary{{"CFBundleVersion", Value("270")}, {"CFBundleShortVersionString", Value("3.03")}}),
                                 "/Library/Application Support/Telvo Server/TelvoServerAgent.app/Contents/Info.plist"));

    std::filesystem::create_directories(host("/root-home"));
    startProgram(kBundle, 0, host("/root-home"), host("/root.log"));
    EXPECT_TRUE(waitFor([&] { return pixelsOf(kConnectedFill) > 10; }, 30)) << read(host("/root.log"));
    screenshot("program-root-connected");
    stopProgram();
    EXPECT_NE(read(host("/root.log")).find("Telvo Server version 3.03 (270)"), std::string::npos);

    // Nobody's own copy of the bundle; the daemon's root open for it to reach the service.
    std::string copy = host("/nobody/Telvo Server.app");
    std::filesystem::create_directories(host("/nobody"));
    std::filesystem::copy(kBundle, copy, std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(host("/nobody/home"));
    ASSERT_EQ(chown(host("/nobody/home").c_str(), kNobody, kNobody), 0);
    chmod(host("/nobody").c_str(), 0755);
    startProgram(copy, kNobody, host("/nobody/home"), host("/nobody.log"));
    ASSERT_TRUE(waitFor([&] { return pixelsOf(kNotConnectedFill) > 10; }, 30)) << read(host("/nobody.log"));
    // Several tries (one every 2 s), one line why.
    serveFor(5);
    screenshot("program-nobody-notconnected");
    std::string log = read(host("/nobody.log"));
    size_t lines = 0;
    for (size_t at = log.find("Cannot connect to the daemon: "); at != std::string::npos;
         at = log.find("Cannot connect to the daemon: ", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << log;
    EXPECT_NE(log.find("admits only administrators"), std::string::npos) << log;
    EXPECT_EQ(pixelsOf(kConnectedFill), 0);
    EXPECT_TRUE(daemonLogged("refused control connection from pid ")) << daemonLog();
}

}  // namespace
}  // namespace telvo::testing
