#include <atomic>
#include <csignal>
#include <string>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>
#include "platform/dispatch/DispatchFixture.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace telvo::dispatch {
namespace {

using testing::DispatchTest;

TEST_F(DispatchTest, ReadSourceReportsTheReadableCountAndEndOfStream) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    auto source = Source::createRead(fds[0], Queue::main());
    EXPECT_EQ(source->handle(), fds[0]);
    std::vector<size_t> counts;
    bool closed = false;
    source->setEventHandler([&] {
        counts.push_back(source->data());
        char buffer[64];
        if (source->data() > 0) {
            ASSERT_EQ(read(fds[0], buffer, source->data()), static_cast<ssize_t>(source->data()));
        } else {
            source->cancel();
        }
    });
    source->setCancelHandler([&] {
        close(fds[0]);
        closed = true;
    });
    source->resume();
    ASSERT_EQ(write(fds[1], "hello", 5), 5);
    ASSERT_TRUE(MainLoop::runUntil([&] { return counts.size() == 1; }, 10));
    EXPECT_EQ(counts[0], 5u);
    ASSERT_EQ(write(fds[1], "ab", 2), 2);
    ASSERT_TRUE(MainLoop::runUntil([&] { return counts.size() == 2; }, 10));
    EXPECT_EQ(counts[1], 2u);
    close(fds[1]);
    ASSERT_TRUE(MainLoop::runUntil([&] { return closed; }, 10));
    EXPECT_EQ(counts.back(), 0u);
}

TEST_F(DispatchTest, ReadAndWriteSourcesShareASocket) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair), 0);
    auto queue = Queue::createSerial("socket");
    auto reader = Source::createRead(pair[0], queue);
    auto writer = Source::createWrite(pair[0], queue);
    std::atomic<int> writable{0};
    std::atomic<size_t> readable{0};
    writer->setEventHandler([&] {
        ++writable;
        // Nothing more to write: stop listening, as a socket does.
        writer->suspend();
    });
    reader->setEventHandler([&] {
        char buffer[16];
        readable += static_cast<size_t>(read(pair[0], buffer, sizeof buffer));
    });
    reader->resume();
    writer->resume();
    ASSERT_TRUE(MainLoop::runUntil([&] { return writable.load() == 1; }, 10));
    ASSERT_EQ(write(pair[1], "xyz", 3), 3);
    ASSERT_TRUE(MainLoop::runUntil([&] { return readable.load() == 3; }, 10));
    EXPECT_EQ(writable, 1) << "a suspended write source stays quiet";
    // Suspending the reader holds the data back; resuming reports it.
    queue->sync([&] { reader->suspend(); });
    ASSERT_EQ(write(pair[1], "1234", 4), 4);
    MainLoop::runUntil([] { return false; }, 0.05);
    EXPECT_EQ(readable, 3u);
    reader->resume();
    ASSERT_TRUE(MainLoop::runUntil([&] { return readable.load() == 7; }, 10));
    writer->resume();
    ASSERT_TRUE(MainLoop::runUntil([&] { return writable.load() == 2; }, 10));

    std::atomic<int> cancels{0};
    reader->setCancelHandler([&] { ++cancels; });
    writer->setCancelHandler([&] { ++cancels; });
    reader->cancel();
    writer->cancel();
    writer->resume();  // balances the handler's suspend so that the cancel handler runs
    ASSERT_TRUE(MainLoop::runUntil([&] { return cancels.load() == 2; }, 10));
    close(pair[0]);
    close(pair[1]);
}

TEST_F(DispatchTest, ListeningSocketFiresWhileConnectionsArePending) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 16), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    auto source = Source::createRead(listener, Queue::main());
    int accepted = 0;
    source->setEventHandler([&] {
        EXPECT_GE(source->data(), 1u);
        for (;;) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) break;
            ++accepted;
            close(fd);
        }
    });
    source->resume();
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        clients.push_back(fd);
    }
    EXPECT_TRUE(MainLoop::runUntil([&] { return accepted == 3; }, 10));
    source->cancel();
    MainLoop::runUntilIdle();
    for (int fd : clients) close(fd);
    close(listener);
}

TEST_F(DispatchTest, DispatchDescriptorsAreCloseOnExec) {
    // Touch every part that owns a descriptor, then check the descriptors the dispatch
    // layer made (an epoll set and a signalfd; inherited ones are not ours to judge).
    auto signal = Source::createSignal(SIGUSR2, Queue::main());
    signal->resume();
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    auto reader = Source::createRead(fds[0], Queue::main());
    reader->resume();
    int checked = 0;
    for (int fd = 3; fd < 4096; ++fd) {
        int flags = fcntl(fd, F_GETFD);
        if (flags < 0) continue;
        char target[256] = {};
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        if (readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
        std::string what = target;
        if (what.find("anon_inode:") != 0) continue;
        ++checked;
        EXPECT_TRUE(flags & FD_CLOEXEC) << what << " (descriptor " << fd << ") leaks into spawned tools";
    }
    EXPECT_GE(checked, 2);
    reader->cancel();
    signal->cancel();
    MainLoop::runUntilIdle();
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace telvo::dispatch
