// The application under the system launcher: its first connection starts the daemon, an
// unload shows the drop and a load brings the connection back.
#include <filesystem>

#include "AppDaemonFixture.h"
#include "launchd/LaunchdProcess.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {
namespace {

const char* kJobPath = "/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist";
const char* kProgramPath = "/Library/Application Support/Telvo Server/TelvoServerDaemon";

class AppLaunchdTest : public AppDaemonTest {};

TEST_F(AppLaunchdTest, FirstConnectionStartsTheDaemonUnloadAndLoad) {
    std::filesystem::create_directories(std::filesystem::path(host(kProgramPath)).parent_path());
    // A copy, not a link: the launcher runs no program reached through a link.
    std::filesystem::copy_file(kDaemonProgram, host(kProgramPath), std::filesystem::copy_options::overwrite_existing);
    // Started on demand only: by the application's connection.
    writeJob(root_, kJobPath,
             Value(ValueDictionary{
                 {"Label", Value("com.kestro.telvoserverdaemon")},
                 {"Program", Value(kProgramPath)},
                 {"MachServices", Value(ValueDictionary{{"com.kestro.telvoserverdaemon", Value(true)}})},
             }));
    LaunchdProcess launchd(root_, 0, {}, {"TELVO_NETSTATE_FILE=/nonexistent"});
    ASSERT_TRUE(launchd.start()) << launchd.log();
    EXPECT_TRUE(daemonLog().empty());

    startApp();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }, 60)) << launchd.log() << daemonLog();
    EXPECT_TRUE(launchd.logged("com.kestro.telvoserverdaemon")) << launchd.log();

    CommandResult unload = launchctl(root_, {"unload", kJobPath});
    EXPECT_EQ(unload.status, 0) << unload.output;
    EXPECT_TRUE(waitFor([&] { return statusImage() == "notconnected"; }, 20)) << launchd.log();

    CommandResult load = launchctl(root_, {"load", kJobPath});
    EXPECT_EQ(load.status, 0) << load.output;
    EXPECT_TRUE(waitFor([&] { return statusImage() == "connected"; }, 60)) << launchd.log() << daemonLog();
    EXPECT_EQ(launchd.stop(), 0);
}

}  // namespace
}  // namespace telvo::testing
