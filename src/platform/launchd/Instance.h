#pragma once
// A launchd instance: loads job property lists, makes their Mach-service sockets, starts jobs
// at load, on the first connection to one of their services or again after an exit (KeepAlive,
// throttled), stops them on unload (SIGTERM, SIGKILL after the exit timeout), and answers its
// control socket (launchctl). One thread: every event comes through one poll loop.
#include <sys/types.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "platform/Error.h"
#include "platform/launchd/JobSpec.h"
#include "platform/launchd/Overrides.h"
#include "platform/launchd/Settings.h"
#include "platform/values/Value.h"
#include "platform/launchd/Blessing.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/PeerCredentials.h"

namespace telvo::launchd {

class Instance {
public:
    explicit Instance(Settings settings);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Makes the run folders, binds the control socket and loads the job folder. Answers the
    // error when the instance cannot run (another one is running, a folder is not trusted).
    ErrorPtr start();
    // Serves until SIGTERM or SIGINT, then stops every job; answers the exit status.
    int run();

private:
    struct Service {
        std::string name;
        std::string path;  // logical
        int fd = -1;
    };
    struct Job {
        JobSpec spec;
        std::string plistPath;
        std::vector<Service> services;
        pid_t pid = -1;
        double lastStart = -1e18;
        bool startPending = false;
        double startAt = 0;
        bool unloading = false;
        double killAt = 0;
        bool killed = false;
        int lastExitStatus = 0;
        std::vector<int> waiters;  // control clients waiting for the unload
        Value plist;                // as loaded, for "copyjob"
        // Blessing: once unloaded, the job file loaded again and these clients answered.
        std::string reloadPath;
        std::vector<int> reloadWaiters;
        bool removeFile = false;  // "remove": the job file goes with the job
    };
    struct Client {
        int fd = -1;
        uid_t uid = uid_t(-1);
        xpc::PeerCredentials peer;  // pinned at the accept
        double deadline = 0;  // for its request
        xpc::MessageDecoder decoder;
    };

    ErrorPtr prepareFolders();
    ErrorPtr bindControlSocket();
    void checkIn();
    void loadFolder();
    // Loads a job file; answers the error that refused it.
    ErrorPtr load(const std::string& path, bool write, const std::string& session, bool atStart);
    ErrorPtr makeServices(Job& job);
    void closeServices(Job& job);
    void requestStart(Job& job, const char* why);
    void startJob(Job& job, const char* why);
    void stopJob(Job& job);
    void reap();
    void jobExited(Job& job, int status);
    void removeJob(std::string label, const Value& answer);  // by value: the job owns the label
    void acceptClients();
    void readClient(size_t index);
    // Answers now (true) or keeps the client waiting (false).
    bool handleRequest(Client& client, const Value& request, Value& answer);
    // Requests answered off the poll loop ("authorize", "bless", "remove"): a worker thread
    // checks the caller and hands the outcome back through a pipe.
    struct Completion {
        int fd = -1;
        uid_t uid = uid_t(-1);
        std::string command, label;
        Blessed blessed;
        ErrorPtr error;
    };
    struct Workers {
        std::mutex mutex;
        std::vector<Completion> done;
        std::map<uid_t, int> busy;  // requests in flight per user
        // Callers (pid and start time) that obtained the blessing right through "authorize",
        // until when: as polkit keeps an administrator's answer, and so that a "remove" after an
        // uninstall that took our polkit actions away is still decided for that caller.
        std::map<std::pair<pid_t, unsigned long long>, double> kept;
        bool holds(const xpc::PeerCredentials& peer);
        void keep(const xpc::PeerCredentials& peer);
        int busyTotal = 0;
        int pipe[2] = {-1, -1};
        void post(Completion c);
        void release(uid_t uid);
    };
    // False (with the answer) when the user has too many requests in flight.
    bool startWorker(Client& client, const Value& request, Value& answer);
    void finishWorks();
    void makeUserFolders(uid_t uid);
    void answer(int fd, const Value& answer);
    void beginShutdown();
    Job* findJob(const std::string& label);
    Overrides& overrides() { return overrides_; }

    Settings settings_;
    Overrides overrides_;
    std::string controlPath_;
    std::string serviceFolder_;
    int controlFd_ = -1;
    int signalFd_ = -1;
    bool stopping_ = false;
    std::map<std::string, std::unique_ptr<Job>> jobs_;
    std::vector<Client> clients_;
    std::map<uid_t, double> lastRefusalLog_;
    std::shared_ptr<Workers> workers_;
};

}  // namespace telvo::launchd
