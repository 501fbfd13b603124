// TelvoServerDaemon: samples the machine once a second, keeps its history and serves it to
// remote clients over TLS. It reads no arguments; it is driven by its preferences and its
// clients, and stops on SIGTERM, SIGINT or SIGHUP after flushing its history.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "daemon/Controller.h"
#include "daemon/control/TVSXPCServer.h"
#include "foundation/DaemonLogFile.h"
#include "foundation/KXRVersions.h"
#include "foundation/ServerLog.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/process/ProcessIdentity.h"
#include "platform/xpc/RunFolder.h"

int main() {
    using namespace telvo;
    // Two malloc arenas: the daemon's few busy threads (main queue, socket queues, timers)
    // allocate little, and an arena per thread would each keep its own freed memory resident
    // for months.
    ::mallopt(M_ARENA_MAX, 2);
    platform::ProcessIdentity::setBundleIdentifier("com.kestro.telvoserverdaemon");

    // Every log line of the daemon goes to its standard output, appended to the log file,
    // which is rolled to "TelvoServer.log.1" once it grows past its limit.
    fs::createDirectories("/Library/Logs", 0755);
    if (!DaemonLogFile::open(fs::resolve(Controller::kLogPath), stdout))
        std::perror("TelvoServerDaemon: cannot open the log file");

    // Writes to a peer that went away must fail, not end the process.
    ::signal(SIGPIPE, SIG_IGN);
    // SIGTERM, SIGINT (Ctrl-C in a foreground run) and SIGHUP (its terminal closed) arrive as
    // blocks on the main queue and all stop the daemon the same way: history flushed and
    // committed, exit status 0. The sources block their signals in every thread, so they are
    // made before any other thread starts.
    std::vector<dispatch::SourcePtr> stopSources;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::signal(signal, SIG_IGN);
        dispatch::SourcePtr source = dispatch::Source::createSignal(signal, dispatch::Queue::main());
        source->setEventHandler([] {
            Controller::sharedController().finalizeDatabase();
            // Status 0 at once: nothing else is closed, and no object is torn down behind the
            // queues that are still running.
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(0);
        });
        stopSources.push_back(std::move(source));
    }

    // The folder every user's notification listeners put their sockets in belongs to root and
    // is open to all (1777); a user's listener could not make it under root's run folder.
    if (::geteuid() == 0) {
        if (ErrorPtr error = xpc::prepareSharedRunFolder(notify::DistributedNotificationCenter::runFolder()))
            ServerLog("cannot prepare the notifications folder: %@", error->description());
    }

    Controller::sharedController().prepare();
    // The control channel: the service listener, or on older systems the control socket.
    if (KXRVersions::sharedVersions().mountainLion()) {
        if (ErrorPtr error = TVSXPCServer::sharedXPCServer().startListener())
            ServerLog("cannot open the control service %s: %@", TVSXPCServer::kServiceName, error->description());
    } else {
        TVSXPCServer::sharedXPCServer().startLegacyServer();
    }
    Controller::sharedController().start();
    for (const auto& source : stopSources) source->resume();
    dispatch::MainLoop::runForever();
}
