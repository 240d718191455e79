// One network service: two TCP listeners and two UDP sockets on system-chosen ports, its
// DNS-SD registration, a select-loop thread that admits clients and takes their messages,
// and a delegate that hears about all of it. The pad service and the channel service are
// two instances that differ only in configuration.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"
#include "platform/threads.h"
#include "server/client_intake.h"
#include "server/client_table.h"
#include "server/connection_delegate.h"
#include "server/dnssd_api.h"
#include "server/key_filter.h"
#include "server/loop_waker.h"
#include "server/question_thread.h"
#include "server/restart_timer.h"
#include "server/socket_io.h"
#include "server/wire_protocol.h"

namespace pellvane {

class ZarvoServer {
  public:
    static constexpr std::uint16_t startFailed = 0xFFFF;
    // Sockets the loop always watches: two TCP listeners, the DNS-SD socket, two UDP sockets.
    static constexpr std::uint32_t serviceSocketCount = 5;
    // Taken names tried in one start before the registration counts as failed: a library
    // that calls every name taken must not keep the loop renaming for ever.
    static constexpr int nameConflictLimit = 100;

    // Why the server last stopped, for its delegate's serverDidStop to weigh.
    enum class StopCause {
        requested,  // stop() or shutDown(): the user's Disconnect, the program's own end
        failure,    // a start that failed, a registration error, a loop that could not wait
    };

    // `name` null means the computer's host name ("KespServer" when it cannot be read).
    // `io` carries the traffic of the clients and datagram sockets; it must outlive the server.
    ZarvoServer(const char* name, const char* serviceType, const char* serviceDomain,
                SocketIo& io = systemSocketIo());
    ~ZarvoServer();
    ZarvoServer(const ZarvoServer&) = delete;
    ZarvoServer& operator=(const ZarvoServer&) = delete;

    void init(const char* name, const char* serviceType, const char* serviceDomain);
    // Returns tcpPort, or startFailed after stopping again (which tells the delegate).
    std::uint16_t start();
    // Closes everything, re-initialises and calls serverDidStop. From another thread it
    // returns only after the loop and monitor threads have ended. Drops a pending
    // startAfter: the delegate decides afresh.
    void stop();
    // Detaches the delegate, ends the delayed start and stops, so that nothing restarts:
    // the program's shutdown.
    void shutDown();
    // Starts the server `pause` from now on a thread of the server's own, unless a stop or
    // shutDown comes first; a later call replaces a pending one. False when no thread is
    // to be had (or after shutDown).
    bool startAfter(std::chrono::milliseconds pause);
    bool startPending() const { return restartTimer_.pending(); }
    StopCause stopCause() const { return stopCause_.load(); }
    // Queues a whole message for every admitted client, whose loop writes it as each
    // connection takes it; a client with too much waiting already skips it (the message is
    // never cut). The message's size when the last client took it, -1 when it skipped it,
    // 0 when there is no admitted client.
    int broadcast(std::span<const std::uint8_t> message);
    // Messages that broadcast skipped for clients that were not reading.
    std::uint64_t skippedBroadcasts() const { return skippedBroadcasts_.load(); }
    void setDelegate(ZarvoConnectionDelegate* delegate);
    ZarvoConnectionDelegate* delegate() const;
    void setAutoAdmit(bool autoAdmit) { autoAdmit_.store(autoAdmit ? 1 : 0); }
    bool autoAdmit() const { return autoAdmit_.load() != 0; }
    // How long a new connection has to deliver its first whole message (10 s); before start.
    void setFirstMessageTime(std::chrono::milliseconds time);
    // How long a client may take nothing of what waits for it before it is dropped (10 s).
    void setStallTime(std::chrono::milliseconds time) { clients_.setStallTime(time); }

    // The name in every HelloReply and Refusal: always the configured one.
    const char* serviceName() const { return serviceName_; }
    // The name registered with DNS-SD: serviceName, or "NAME (2)" and on when that was taken.
    std::string instanceName() const;
    const char* serviceType() const { return serviceType_; }
    const char* serviceDomain() const { return serviceDomain_; }

    // Read under the lock, for other threads (the tray, tests).
    std::uint16_t tcpPort() const;
    std::uint16_t udpPort4() const;
    std::uint16_t udpPort6() const;
    std::uint32_t watchedCount() const;
    std::uint32_t pendingCount() const;
    // Watched client connections, pending or admitted.
    std::uint32_t clientCount() const;
    std::uint32_t admittedCount() const;
    std::vector<ClientTable::AdmittedClient> admittedClients() const {
        return clients_.admittedClients();
    }
    bool hasServiceRegistration() const;
    bool isRunning() const;

    // What a watched socket is for.
    enum class SocketKind { listener, datagram4, datagram6, dnsService, client };
    // The server's own sockets; anything else it watches is a client connection.
    struct ServiceSockets {
        net::SocketHandle tcp4 = net::invalidSocket;
        net::SocketHandle tcp6 = net::invalidSocket;
        net::SocketHandle udp4 = net::invalidSocket;
        net::SocketHandle udp6 = net::invalidSocket;
        net::SocketHandle dnssd = net::invalidSocket;
        SocketKind kindOf(net::SocketHandle socket) const;
    };
    ServiceSockets serviceSockets() const;

    // The pad service's key filter, shared by its loop and monitor threads.
    KeyFilter& keyFilter() { return keyFilter_; }
    const KeyFilter& keyFilter() const { return keyFilter_; }
    // The foreground monitor that the pad service's delegate starts at the first admission.
    WorkerThread monitorThread;

    // True on this server's loop thread once its stop has begun: nobody is asked about or
    // admitted then.
    bool stopping() const;

    // For drivers of the intake without the loop thread and without sockets (the fuzz
    // targets): the client table, the loop's client work, and where questions go.
    ClientTable& clients() { return clients_; }
    ClientIntake& intake() { return intake_; }
    void setQuestionAsker(QuestionAsker& asker) { intake_.setQuestionAsker(asker); }

  private:
    struct LoopControl {
        std::atomic<bool> ended{false};
    };
    // The select loop (select_loop.cpp); returns 1 when it ends.
    int run(LoopControl& control);

    bool openListeners();
    void openUdpSockets();
    void closeUdpSockets();
    void closeAllSockets();
    void endLoopThread();
    void joinRetiredThreads();
    void stopFor(StopCause cause);
    void stopAfterFailure() { stopFor(StopCause::failure); }
    bool registerService();
    bool takeNextInstanceName();
    void registerAgainAfterConflict();
    std::uint16_t failStart();

    static void DNSSD_API registerReply(dnssd::DNSServiceRef sdRef, dnssd::DNSServiceFlags flags,
                                        dnssd::DNSServiceErrorType errorCode, const char* name,
                                        const char* regtype, const char* domain, void* context);

    ServiceSockets serviceSocketsLocked() const;  // with lock_ held

    // Used by the loop (select_loop.cpp). Each returns false when the pass ends here.
    bool takeReadable(net::SocketHandle socket, SocketKind kind,
                      std::vector<std::uint8_t>& datagram, bool& moreWaiting);
    bool takeException(const ClientTable::Watch& watch, SocketKind kind);
    int waitTimeMs() const;
    // Puts one question to the delegate, on the question thread.
    Answer askDelegate(const Question& question);
    // True on a loop thread whose stop has begun.
    static bool loopEnding();

    const char* serviceDomain_ = "";
    const char* serviceType_ = "";
    const char* serviceName_ = "";
    std::array<char, 256> hostNameBuffer_{};  // reused by every init that looks the name up

    // Serialises start and stop, which nest through serverDidStop on one thread.
    std::recursive_mutex lifecycleLock_;

    SocketIo& io_;

    // Guards the server socket fields, the ports, the registration and its socket, the
    // instance name and the delegate pointer. Never held across a send, a receive, a close or
    // a delegate call, nor while the client table's lock is taken.
    mutable std::mutex lock_;
    net::Socket tcpSocket4_;
    net::Socket tcpSocket6_;
    net::Socket udpSocket4_;
    net::Socket udpSocket6_;
    std::uint16_t tcpPort_ = 0;
    std::uint16_t udpPort4_ = 0;
    std::uint16_t udpPort6_ = 0;
    dnssd::DNSServiceRef serviceRef_ = nullptr;
    net::SocketHandle dnssdSocket_ = net::invalidSocket;  // serviceRef_'s reply socket
    std::string instanceName_;
    ZarvoConnectionDelegate* delegate_ = nullptr;

    // Every client connection, and the select-layout sets (with a lock of its own).
    ClientTable clients_{io_};
    LoopWaker waker_;
    QuestionThread questionThread_{
        [this](const Question& question) { return askDelegate(question); },
        [this] { waker_.wake(); }};
    // The loop thread's client work; stop() resets it once the loop has ended.
    ClientIntake intake_{*this, io_, clients_};
    std::atomic<std::uint64_t> skippedBroadcasts_{0};

    std::atomic<std::uint32_t> autoAdmit_{0};
    std::atomic<StopCause> stopCause_{StopCause::requested};
    // Taken names met since the last start; written by start and, after a conflict reply,
    // by the loop thread, which start creates and stop joins.
    int nameConflicts_ = 0;

    // Written by start and stop only (under lifecycleLock_).
    std::thread loopThread_;
    std::thread::id threadId_;
    std::shared_ptr<LoopControl> loopControl_;
    std::vector<std::thread> retiredThreads_;  // loops that stopped themselves

    KeyFilter keyFilter_;
    RestartTimer restartTimer_{[this] { start(); }};
};

}  // namespace pellvane
