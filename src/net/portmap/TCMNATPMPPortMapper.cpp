// NAT-PMP mappings through libnatpmp and their renewal.
#include "net/portmap/TCMNATPMPPortMapper.h"

#include <natpmp.h>
#include <sys/select.h>
#include <cerrno>
#include "net/portmap/PortMapperLog.h"

namespace telvo {

TCMNATPMPPortMapper::~TCMNATPMPPortMapper() { stop(); }

void TCMNATPMPPortMapper::bind(dispatch::QueuePtr queue, std::function<std::vector<TCMPortMappingPtr>()> held) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_ = std::move(queue);
    heldMappings_ = std::move(held);
}

TCMNATPMPPortMapper::Answer TCMNATPMPPortMapper::request(int localPort, int publicPort, uint32_t lifetime) {
    Answer answer;
    natpmp_t session;
    if (initnatpmp(&session, 0, 0) < 0) return answer;
    int r = sendnewportmappingrequest(&session, NATPMP_PROTOCOL_TCP, uint16_t(localPort), uint16_t(publicPort), lifetime);
    if (r < 0) {
        closenatpmp(&session);
        answer.result = r;
        return answer;
    }
    natpmpresp_t response{};
    do {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(session.s, &fds);
        timeval timeout{};
        getnatpmprequesttimeout(&session, &timeout);
        select(FD_SETSIZE, &fds, nullptr, nullptr, &timeout);
        r = readnatpmpresponseorretry(&session, &response);
    } while (r == NATPMP_TRYAGAIN);
    closenatpmp(&session);
    answer.result = r;
    if (r >= 0) {
        answer.publicPort = response.pnu.newportmapping.mappedpublicport;
        answer.lifetime = response.pnu.newportmapping.lifetime;
    }
    return answer;
}

bool TCMNATPMPPortMapper::addPortMapping(TCMPortMapping& mapping) {
    Answer a = request(mapping.localPort(), mapping.desiredExternalPort(), kLifetime);
    if (a.result < 0) return false;
    mapping.setExternalPort(a.publicPort);
    double interval;
    bool lowered = false, armed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interval = std::min(updateInterval_, a.lifetime / 2.0);
        armed = timer_ != nullptr;
    }
    if (interval < kMinimumUpdateInterval) {
        PortMapperLog("%s caution - new port mapping had a lifetime < 120. : %u - %@",
                      "-[TCMNATPMPPortMapper addPortMapping:]", unsigned(a.lifetime), mapping.description());
        interval = kMinimumUpdateInterval;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (updateInterval_ > interval) {
            updateInterval_ = interval;
            lowered = true;
        }
    }
    // A granted mapping always has a renewal pending, so that it never expires unnoticed.
    if (lowered || !armed) adjustUpdateTimer();
    return true;
}

bool TCMNATPMPPortMapper::removePortMapping(int localPort, int externalPort) {
    Answer a = request(localPort, externalPort, 0);
    if (a.result < 0) {
        PortMapperLog("error removing nat mapping");
        return false;
    }
    PortMapperLog("removed nat mapping");
    return true;
}

void TCMNATPMPPortMapper::refresh() { adjustUpdateTimer(); }

void TCMNATPMPPortMapper::adjustUpdateTimer() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
    if (!queue_) return;
    timer_ = dispatch::Source::createTimer(queue_);
    std::weak_ptr<dispatch::Source> weakTimer = timer_;
    std::weak_ptr<TCMNATPMPPortMapper> weakSelf = weak_from_this();
    timer_->setEventHandler([weakSelf, weakTimer] {
        auto self = weakSelf.lock();
        if (!self) return;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (self->timer_ != weakTimer.lock()) return;  // replaced or stopped meanwhile
        }
        self->updateMappings();
    });
    timer_->scheduleAfter(updateInterval_);
    timer_->resume();
}

void TCMNATPMPPortMapper::updateMappings() {
    std::function<std::vector<TCMPortMappingPtr>()> held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (timer_) {
            timer_->cancel();
            timer_.reset();
        }
        held = heldMappings_;
    }
    ++renewals_;
    // Re-armed first: the adds below may block for as long as the gateway takes.
    adjustUpdateTimer();
    if (!held) return;
    for (const auto& m : held())
        if (m->mappedWith() == TCMMappingProtocol::NATPMP && m->mappingStatus() == TCMPortMappingStatusMapped)
            addPortMapping(*m);
}

void TCMNATPMPPortMapper::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
}

double TCMNATPMPPortMapper::updateInterval() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return updateInterval_;
}

bool TCMNATPMPPortMapper::timerArmed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timer_ != nullptr;
}

}  // namespace telvo
