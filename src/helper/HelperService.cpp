#include "helper/HelperService.h"

#include "foundation/logging/DDFileLogger.h"
#include "foundation/logging/DDLog.h"
#include "foundation/logging/DDLogFileManagerDefault.h"
#include "foundation/logging/LogFolder.h"
#include "helper/FileTree.h"
#include "helper/HelperController.h"
#include "helper/HelperMessage.h"
#include "helper/HelperStaging.h"
#include "helper/HelperTrash.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/dispatch/Queue.h"
#include "platform/systemlog/SystemLog.h"

namespace telvo::helper {

struct HelperService::Session {
    std::weak_ptr<xpc::Connection> connection;
    xpc::PeerCredentials peer;
    PeerUser user;
    std::atomic<int> failures{0};
    std::atomic<bool> ended{false};
    std::shared_ptr<DDFileLogger> logger;  // under the service's mutex
    std::unique_ptr<HelperStaging> staging;  // main queue only
    std::string who() const { return user.name + " (" + peer.description() + ")"; }
};

HelperService::HelperService(HelperController& controller, Settings settings)
    : controller_(controller), settings_(std::move(settings)) {}

HelperService::~HelperService() = default;

ErrorPtr HelperService::start() {
    controller_.setLogger([](const std::string& line) { DDLogInfo("%@", line); });
    controller_.listener = xpc::Listener::create(settings_.label);
    controller_.listener->setDelegate(shared_from_this());
    return controller_.listener->resume();
}

bool HelperService::shouldAcceptNewConnection(xpc::Listener&, const xpc::ConnectionPtr& connection) {
    const xpc::PeerCredentials peer = connection->peerCredentials();
    std::string why;
    if (!checkCaller(peer, settings_.rules, why)) {
        SystemLog("Refused the connection of %s: %s", peer.description(), why);
        return false;
    }
    auto session = std::make_shared<Session>();
    session->connection = connection;
    session->peer = peer;
    if (!lookUpPeerUser(peer.uid, session->user, why)) {
        SystemLog("Refused the connection of %s: %s", peer.description(), why);
        return false;
    }
    session->staging = std::make_unique<HelperStaging>(settings_.applicationRequirement);

    std::weak_ptr<HelperService> weak = weak_from_this();
    auto interface = std::make_shared<xpc::Interface>("InstallerProtocol");
    interface->add({kOperation, {xpc::ArgType::Data}, true,
                    [weak, session](const ValueArray& arguments, const xpc::Reply& reply) {
                        if (auto self = weak.lock()) self->receive(session, arguments, reply);
                        else reply.withhold();
                    }});
    connection->setExportedInterface(interface);
    // Each handler drops only its own connection, never a newer one.
    auto dropThis = [weak, session] {
        if (auto self = weak.lock()) self->drop(session);
    };
    connection->setInterruptionHandler(dropThis);
    connection->setInvalidationHandler(dropThis);

    SessionPtr previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        previous = current_;
        current_ = session;
        controller_.connection = connection;
    }
    connection->resume();
    if (previous) {
        end(previous);
        if (auto old = previous->connection.lock()) old->invalidate();
    }
    return true;
}

void HelperService::drop(const SessionPtr& session) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_ == session) {
            current_.reset();
            controller_.connection.reset();
        }
    }
    end(session);
}

void HelperService::end(const SessionPtr& session) {
    if (session->ended.exchange(true)) return;
    removeLogger(session);
    // The staged copy goes once the messages queued before the end have been passed over.
    dispatch::Queue::main()->async([session] {
        if (session->staging) session->staging->remove();
    });
}

void HelperService::refuse(const SessionPtr& session, const std::string& why) {
    session->failures++;
    SystemLog("Refused a step of %s: %s", session->who(), why);
    DDLogInfo("Refused: %@", why);
}

bool HelperService::openLogger(const SessionPtr& session, const std::string& folderPath, std::string& why) {
    LogFolderPtr folder = LogFolder::open(folderPath, session->user.home, session->user.uid, session->user.gid, why);
    if (!folder) return false;
    auto manager = std::make_shared<DDLogFileManagerDefault>(folder);
    manager->setMaximumNumberOfLogFiles(7);
    auto logger = std::make_shared<DDFileLogger>(manager);
    logger->setRollingFrequency(315360000);
    logger->setMaximumFileSize(10485760);
    std::shared_ptr<DDFileLogger> previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (session->ended) return true;
        previous = controller_.fileLogger;
        controller_.fileLogger = logger;
        session->logger = logger;
    }
    if (previous) DDLog::removeLogger(previous);
    DDLog::addLogger(logger);
    return true;
}

void HelperService::removeLogger(const SessionPtr& session) {
    std::shared_ptr<DDFileLogger> logger;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        logger = std::move(session->logger);
        session->logger.reset();
        if (!logger || controller_.fileLogger != logger) return;
        controller_.fileLogger.reset();
    }
    DDLog::removeLogger(logger);
}

void HelperService::receive(const SessionPtr& session, const ValueArray& arguments, const xpc::Reply& reply) {
    if (session->ended) {
        reply.withhold();
        return;
    }
    std::string why;
    std::optional<HelperCommand> command =
        arguments.empty() ? std::nullopt : decodeHelperMessage(arguments[0].bytes(), why);
    if (arguments.empty()) why = "the message carries no data";
    if (!command) {
        SystemLog("Refused a message of %s: %s", session->who(), why);
        reply.withhold();
        return;
    }
    bool configured = true;
    if (command->command() == "config") {
        if (!permits(*command, session->user, why) || !openLogger(session, command->text("log"), why)) {
            refuse(session, why);
            configured = false;
        }
    }
    std::weak_ptr<HelperService> weak = weak_from_this();
    HelperCommand queued = *command;
    if (!configured) queued = HelperCommand::make("refused", {});
    if (command->has("reply")) queued.set("reply", Value(true));
    dispatch::Queue::main()->async([weak, session, queued, reply] {
        if (auto self = weak.lock()) self->run(session, queued, reply);
        else reply.withhold();
    });
}

void HelperService::run(const SessionPtr& session, HelperCommand command, const xpc::Reply& reply) {
    if (session->ended) {
        reply.withhold();
        return;
    }
    const std::string name = command.command();
    std::string why;
    bool allowed = name == "config" || name == "refused" || permits(command, session->user, why);
    if (allowed && name == "copy") {
        std::string staged;
        if (!session->staging->stagedSource(command.text("file"), staged, why)) {
            allowed = false;
        } else {
            command.set("file", Value(staged));
            if (isApplicationsCopyTarget(command.text("dest")) && !makeFolders("/Applications", why)) allowed = false;
        }
    }
    bool answer = command.has("reply");
    auto sendReply = [&] {
        if (!answer) {
            reply.withhold();
            return;
        }
        int failures = session->failures;
        reply(Value(failures == 0 ? std::string() : std::to_string(failures)));
    };
    if (!allowed) {
        refuse(session, why);
        sendReply();
    } else if (name == "trash") {
        DDLogInfo("%@", command.dictionary());
        std::string target;
        if (trashForUser(command.text("file"), session->user, target, why)) {
            DDLogInfo("trash path %@ -  %@", command.text("file"), target);
        } else {
            refuse(session, why);
        }
        sendReply();
    } else if (name != "refused") {
        const int before = controller_.failureCount();
        // The reply is the connection's: given below, with its failures counted.
        controller_.processMessage(command, nullptr);
        session->failures += controller_.failureCount() - before;
        sendReply();
    } else {
        sendReply();
    }
    if (name == "finish") removeLogger(session);
}

}  // namespace telvo::helper

namespace telvo::helper {

void HelperController::start() {
    auto service = std::make_shared<HelperService>(*this, HelperService::Settings());
    if (ErrorPtr error = service->start()) {
        SystemLog("The helper cannot listen on %s: %s", HelperService::kLabel, error->description());
        dispatch::MainLoop::exitProcess(1);
    }
    // The service lives as long as the program.
    static std::shared_ptr<HelperService> keep = service;
    dispatch::MainLoop::runForever();
}

}  // namespace telvo::helper
