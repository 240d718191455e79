// The select loop of a started server: it waits on the service's sockets and every client's,
// and hands what is ready to the intake: connections to accept, bytes and datagrams to read,
// DNS-SD replies, the user's answers, and what waits to be written.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "server/dnssd_binding.h"
#include "server/zarvo_server.h"

namespace pellvane {
namespace {

constexpr int selectTimeoutMs = 180 * 1000;
constexpr std::size_t datagramBufferSize = 65535;

}  // namespace

int ZarvoServer::run(LoopControl& control) {
    ServiceSockets own = serviceSockets();
    // A socket that could not be opened is left out: the service runs on without it.
    const net::SocketHandle serviceOrder[] = {own.dnssd, own.tcp4, own.tcp6, own.udp4, own.udp6};
    clients_.watchServiceSockets(serviceOrder);
    std::vector<std::uint8_t> datagram(datagramBufferSize);
    std::vector<ClientTable::Watch> watches;
    std::vector<net::SocketHandle> sockets;
    std::vector<net::ReadinessFlags> flags;

    while (!control.ended.load()) {
        // A registration renamed after a conflict has a new reply socket.
        own = serviceSockets();
        clients_.watches(watches);
        sockets.clear();
        flags.clear();
        for (const ClientTable::Watch& watch : watches) {
            sockets.push_back(watch.socket);
            net::ReadinessFlags wanted;
            wanted.wantReadable = watch.wantReadable;
            wanted.wantWritable = watch.wantWritable;
            flags.push_back(wanted);
        }
        if (waker_.socket() != net::invalidSocket) {
            sockets.push_back(waker_.socket());
            flags.push_back(net::ReadinessFlags{});
        }
        // Whole messages left in a stream by the last pass are not seen by the wait: with
        // some waiting, it only looks and does not block.
        const bool messagesWaiting = intake_.hasWaitingMessages();
        const int readySockets =
            net::waitForReadiness(sockets, flags, messagesWaiting ? 0 : waitTimeMs());
        if (control.ended.load()) {
            break;
        }
        intake_.closeLateAndStalled();
        if (readySockets < 0) {
            debug::output(L"Select timed out!\n");
            stopAfterFailure();
            return 1;
        }
        if (sockets.size() > watches.size() && flags[watches.size()].readable) {
            waker_.drain();
        }
        intake_.takeAnswers();
        if (control.ended.load()) {
            return 1;
        }
        if (readySockets == 0 && !messagesWaiting) {
            debug::output(L"Select: readySockets == 0\n");
            intake_.writeOutput();
            continue;
        }

        bool moreWaiting = false;  // a source gave all that one pass takes and may hold more
        for (std::size_t i = 0; i < watches.size(); ++i) {
            if (!flags[i].readable) {
                continue;
            }
            bool passGoesOn = true;
            if (watches[i].client) {
                moreWaiting = intake_.takeStreamBytes(*watches[i].client) || moreWaiting;
            } else {
                passGoesOn =
                    takeReadable(sockets[i], own.kindOf(sockets[i]), datagram, moreWaiting);
            }
            if (control.ended.load()) {
                return 1;  // a stop on this thread (a registration error) ended the loop
            }
            if (!passGoesOn) {
                break;
            }
        }
        const bool messagesLeft = intake_.handleWaitingMessages();
        if (control.ended.load()) {
            return 1;
        }
        moreWaiting = moreWaiting || messagesLeft;
        for (std::size_t i = 0; i < watches.size(); ++i) {
            if (flags[i].exceptional && !takeException(watches[i], own.kindOf(sockets[i]))) {
                break;
            }
        }
        intake_.writeOutput();
        // The pause keeps a trickle of events from waking the loop once each; a source with
        // more waiting is served again at once (a pause may last a whole timer tick, 15.6 ms
        // on Windows, longer than a busy pad can wait).
        if (!moreWaiting) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return 1;
}

// A DNS-SD reply that fails to process stops the server, which ends the loop. `moreWaiting`
// is set when a socket gave all that one pass takes from it.
bool ZarvoServer::takeReadable(net::SocketHandle socket, SocketKind kind,
                               std::vector<std::uint8_t>& datagram, bool& moreWaiting) {
    switch (kind) {
        case SocketKind::listener:
            intake_.acceptFrom(socket);
            break;
        case SocketKind::dnsService: {
            dnssd::DNSServiceRef ref = nullptr;
            {
                std::lock_guard guard(lock_);
                ref = serviceRef_;
            }
            if (dnssd::DNSServiceProcessResult(ref) != dnssd::kDNSServiceErr_NoError) {
                // The library has lost its daemon (a restarted Bonjour Service closes the
                // socket, which then reads as ready for ever): the registration is gone, and
                // only a new one brings the service back.
                stopAfterFailure();
                return false;
            }
            break;
        }
        case SocketKind::datagram4:
        case SocketKind::datagram6: {
            const net::Family family =
                kind == SocketKind::datagram4 ? net::Family::ipv4 : net::Family::ipv6;
            moreWaiting = intake_.takeDatagrams(socket, family, datagram) || moreWaiting;
            break;
        }
        case SocketKind::client:
            break;  // clients are the intake's
    }
    return true;
}

// Exceptions on the server's own sockets end the pass; one on a client drops it.
bool ZarvoServer::takeException(const ClientTable::Watch& watch, SocketKind kind) {
    if (watch.client) {
        // The read pass may have dropped it already: its id then finds nothing.
        if (clients_.stage(*watch.client)) {
            debug::output(L"Client unespectedly closed connection\n");
            intake_.drop(*watch.client);
        }
        return true;
    }
    if (kind == SocketKind::datagram4) {
        debug::output(L"udpSocket4 exception\n");
    } else if (kind == SocketKind::datagram6) {
        debug::output(L"udpSocket6 exception\n");
    }
    return false;
}

// Until the next deadline of a client (a first message due, a queue that does not move), or
// the loop's usual timeout.
int ZarvoServer::waitTimeMs() const {
    const std::optional<ClientTable::Clock::time_point> due = clients_.nextDeadline();
    if (!due) {
        return selectTimeoutMs;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*due - ClientTable::Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, selectTimeoutMs));
}

Answer ZarvoServer::askDelegate(const Question& question) {
    Answer answer{question.client, question.host, false, nullptr};
    ZarvoConnectionDelegate* target = delegate();
    if (target == nullptr) {
        return answer;
    }
    answer.admitted = target->shouldAdmitClient(this, &question.hello) != 0;
    if (answer.admitted) {
        answer.applications = target->applicationList(this, &question.hello);
    }
    return answer;
}

int ZarvoServer::broadcast(std::span<const std::uint8_t> message) {
    int skipped = 0;
    const int taken = clients_.queueToAdmitted(message, skipped, ClientTable::Clock::now());
    if (skipped > 0) {
        skippedBroadcasts_.fetch_add(static_cast<std::uint64_t>(skipped));
        debug::output(L"Message skipped for a client that has too much waiting\n");
    }
    if (taken > 0) {
        waker_.wake();  // the loop writes it
    }
    if (taken == 0) {
        return skipped > 0 ? -1 : 0;
    }
    return static_cast<int>(message.size());
}

}  // namespace pellvane
