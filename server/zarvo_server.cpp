#include "server/zarvo_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/debug_output.h"
#include "server/dnssd_binding.h"

namespace pellvane {
namespace {

constexpr int listenBacklog = 256;
constexpr int udpReceiveBuffer = 1 << 20;
constexpr char fallbackName[] = "KespServer";

// The loop that runs on this thread, if any: lets stop() know it was called from a loop.
thread_local std::atomic<bool>* currentLoopEnded = nullptr;
thread_local const void* currentLoopServer = nullptr;

}  // namespace

bool ZarvoServer::loopEnding() {
    return currentLoopEnded != nullptr && currentLoopEnded->load();
}

ZarvoServer::ZarvoServer(const char* name, const char* serviceType, const char* serviceDomain,
                         SocketIo& io)
    : io_(io) {
    intake_.setQuestionAsker(questionThread_);
    init(name, serviceType, serviceDomain);
}

ZarvoServer::~ZarvoServer() {
    shutDown();
}

void ZarvoServer::init(const char* name, const char* serviceType, const char* serviceDomain) {
    if (name == nullptr) {
        hostNameBuffer_.fill('\0');
        if (!net::hostName(hostNameBuffer_.data(), hostNameBuffer_.size())) {
            std::memcpy(hostNameBuffer_.data(), fallbackName, sizeof fallbackName - 1);
        }
        hostNameBuffer_.back() = '\0';
        name = hostNameBuffer_.data();
    }
    keyFilter_.reset();
    intake_.reset();
    // autoAdmit is left as it is: a restarted channel service must go on admitting on any
    // first message, as it did when the program started it.
    serviceName_ = name;
    serviceType_ = serviceType;
    serviceDomain_ = serviceDomain;
    std::lock_guard guard(lock_);
    tcpPort_ = 0;
    serviceRef_ = nullptr;
    dnssdSocket_ = net::invalidSocket;
    // Empty already after a stop; the constructor's init finds them empty too.
    tcpSocket4_.reset();
    tcpSocket6_.reset();
    udpSocket4_.reset();
    udpSocket6_.reset();
}

void ZarvoServer::setDelegate(ZarvoConnectionDelegate* delegate) {
    std::lock_guard guard(lock_);
    delegate_ = delegate;
}

ZarvoConnectionDelegate* ZarvoServer::delegate() const {
    std::lock_guard guard(lock_);
    return delegate_;
}

std::uint16_t ZarvoServer::tcpPort() const {
    std::lock_guard guard(lock_);
    return tcpPort_;
}

std::uint16_t ZarvoServer::udpPort4() const {
    std::lock_guard guard(lock_);
    return udpPort4_;
}

std::uint16_t ZarvoServer::udpPort6() const {
    std::lock_guard guard(lock_);
    return udpPort6_;
}

std::uint32_t ZarvoServer::watchedCount() const {
    return clients_.watchedCount();
}

void ZarvoServer::setFirstMessageTime(std::chrono::milliseconds time) {
    clients_.setFirstMessageTime(time);
}

std::uint32_t ZarvoServer::pendingCount() const {
    return clients_.waitingCount();
}

std::string ZarvoServer::instanceName() const {
    std::lock_guard guard(lock_);
    return instanceName_;
}

std::uint32_t ZarvoServer::clientCount() const {
    return clients_.clientCount();
}

std::uint32_t ZarvoServer::admittedCount() const {
    return clients_.admittedCount();
}

bool ZarvoServer::stopping() const {
    return loopEnding();
}

bool ZarvoServer::hasServiceRegistration() const {
    std::lock_guard guard(lock_);
    return serviceRef_ != nullptr;
}

bool ZarvoServer::isRunning() const {
    std::lock_guard guard(lock_);
    return tcpSocket4_.valid() && tcpSocket6_.valid();
}

ZarvoServer::ServiceSockets ZarvoServer::serviceSockets() const {
    std::lock_guard guard(lock_);
    return serviceSocketsLocked();
}

ZarvoServer::ServiceSockets ZarvoServer::serviceSocketsLocked() const {
    return {tcpSocket4_.get(), tcpSocket6_.get(), udpSocket4_.get(), udpSocket6_.get(),
            dnssdSocket_};
}

ZarvoServer::SocketKind ZarvoServer::ServiceSockets::kindOf(net::SocketHandle socket) const {
    if (socket == tcp4 || socket == tcp6) {
        return SocketKind::listener;
    }
    if (socket == udp4) {
        return SocketKind::datagram4;
    }
    if (socket == udp6) {
        return SocketKind::datagram6;
    }
    if (socket == dnssd) {
        return SocketKind::dnsService;
    }
    return SocketKind::client;
}

std::uint16_t ZarvoServer::start() {
    std::lock_guard lifecycle(lifecycleLock_);
    joinRetiredThreads();
    if (isRunning()) {
        return tcpPort();
    }
    {
        std::lock_guard guard(lock_);
        instanceName_ = serviceName_;  // a name taken last time may be free again
    }
    nameConflicts_ = 0;
    if (!openListeners() || !registerService()) {
        return failStart();
    }
    openUdpSockets();
    waker_.open();
    if (!questionThread_.start()) {
        debug::output(L"No thread for the admission questions: every device is refused\n");
    }
    loopControl_ = std::make_shared<LoopControl>();
    try {
        loopThread_ = std::thread([this, control = loopControl_] {
            currentLoopServer = this;
            currentLoopEnded = &control->ended;
            run(*control);
        });
    } catch (const std::system_error&) {
        return failStart();
    }
    threadId_ = loopThread_.get_id();
    return tcpPort();
}

std::uint16_t ZarvoServer::failStart() {
    stopAfterFailure();
    return startFailed;
}

bool ZarvoServer::startAfter(std::chrono::milliseconds pause) {
    return restartTimer_.arm(pause);
}

bool ZarvoServer::openListeners() {
    net::Socket listener4(net::openSocket(net::Family::ipv4, net::Transport::stream));
    net::Socket listener6(net::openSocket(net::Family::ipv6, net::Transport::stream));
    const net::SocketHandle tcp4 = listener4.get();
    const net::SocketHandle tcp6 = listener6.get();
    {
        // Owned by the server from here on, closed by its stop whatever happens next.
        std::lock_guard guard(lock_);
        tcpSocket4_ = std::move(listener4);
        tcpSocket6_ = std::move(listener6);
    }
    if (tcp4 == net::invalidSocket || tcp6 == net::invalidSocket) {
        return false;
    }
    // No other program may bind the service's ports; the result does not change the start.
    net::setExclusiveAddress(tcp4, net::Transport::stream);
    net::setExclusiveAddress(tcp6, net::Transport::stream);
    if (!net::setNonBlocking(tcp4) || !net::setNonBlocking(tcp6) ||
        !net::bindWildcard(tcp4, net::Family::ipv4, 0)) {
        return false;
    }
    std::uint16_t port = 0;
    int length = 0;
    if (!net::boundPort(tcp4, port, length) || length != net::ipv4AddressLength) {
        return false;
    }
    {
        std::lock_guard guard(lock_);
        tcpPort_ = port;
    }
    return net::bindWildcard(tcp6, net::Family::ipv6, port) && net::listenOn(tcp4, listenBacklog) &&
           net::listenOn(tcp6, listenBacklog);
}

void ZarvoServer::openUdpSockets() {
    closeUdpSockets();
    net::Socket socket4(net::openSocket(net::Family::ipv4, net::Transport::datagram));
    net::Socket socket6(net::openSocket(net::Family::ipv6, net::Transport::datagram));
    const net::SocketHandle udp4 = socket4.get();
    const net::SocketHandle udp6 = socket6.get();
    auto publish = [&] {
        std::lock_guard guard(lock_);
        udpSocket4_ = std::move(socket4);
        udpSocket6_ = std::move(socket6);
    };
    auto fail = [&](const wchar_t* line, bool closeUdp4) {
        if (line != nullptr) {
            debug::output(line);
        }
        if (closeUdp4) {
            socket4.reset();
        }
        publish();
        debug::output(L"UDP sockets NOT created!\n");
    };
    net::setExclusiveAddress(udp4, net::Transport::datagram);
    net::setExclusiveAddress(udp6, net::Transport::datagram);
    // Room for a burst from busy pads while the loop is not running (the system may grant
    // less, which only shortens the burst that fits).
    net::setReceiveBufferSize(udp4, udpReceiveBuffer);
    net::setReceiveBufferSize(udp6, udpReceiveBuffer);
    if (!net::setNonBlocking(udp4) || !net::setNonBlocking(udp6)) {
        return fail(L"UDP Socket error 1\n", false);
    }
    if (!net::bindWildcard(udp4, net::Family::ipv4, 0)) {
        return fail(L"UDP Socket error 2\n", false);
    }
    std::uint16_t port4 = 0;
    int length = 0;
    if (!net::boundPort(udp4, port4, length) || length != net::ipv4AddressLength) {
        return fail(L"UDP Socket error 3\n", true);
    }
    {
        std::lock_guard guard(lock_);
        udpPort4_ = port4;
    }
    if (!net::bindWildcard(udp6, net::Family::ipv6, port4)) {
        return fail(L"UDP Socket error 4\n", true);
    }
    std::uint16_t port6 = 0;
    if (!net::boundPort(udp6, port6, length) || length != net::ipv6AddressLength) {
        return fail(nullptr, true);
    }
    {
        std::lock_guard guard(lock_);
        udpPort6_ = port6;
    }
    publish();
    debug::output(L"UDP sockets created!\n");
}

void ZarvoServer::closeUdpSockets() {
    net::Socket closing[2];
    {
        std::lock_guard guard(lock_);
        closing[0] = std::move(udpSocket4_);
        closing[1] = std::move(udpSocket6_);
    }
    for (net::Socket& socket : closing) {
        clients_.unwatchServiceSocket(socket.get());
        socket.reset();
    }
}

// Once the loop has ended: nobody else closes a client then.
void ZarvoServer::closeAllSockets() {
    closeUdpSockets();
    clients_.dropAll();
    net::Socket listeners[2];
    {
        std::lock_guard guard(lock_);
        listeners[0] = std::move(tcpSocket4_);
        listeners[1] = std::move(tcpSocket6_);
    }
    // Closed here, once the lock is released.
}

void ZarvoServer::stop() {
    stopFor(StopCause::requested);
}

void ZarvoServer::stopFor(StopCause cause) {
    std::unique_lock lifecycle(lifecycleLock_, std::defer_lock);
    if (currentLoopServer == this) {
        // Another thread may hold the lifecycle lock. One that is stopping this server marks
        // this loop ended before it waits for this very thread: then the loop only ends and
        // that thread does the rest. One that is still inside start() waits for nothing of
        // this thread, so the stop goes ahead once it has finished.
        while (!lifecycle.try_lock()) {
            if (currentLoopEnded->load()) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } else {
        lifecycle.lock();
    }
    questionThread_.endQuestions();
    if (ZarvoConnectionDelegate* target = delegate()) {
        target->serverWillStop(this);
    }
    restartTimer_.cancel();
    endLoopThread();
    // The open question was closed by serverWillStop; its answer, if any, is not taken.
    questionThread_.stop();
    monitorThread.stopAndJoin();
    closeAllSockets();
    dnssd::DNSServiceRef ref = nullptr;
    {
        std::lock_guard guard(lock_);
        ref = serviceRef_;
        serviceRef_ = nullptr;
        dnssdSocket_ = net::invalidSocket;
    }
    if (ref != nullptr) {
        dnssd::DNSServiceRefDeallocate(ref);
    }
    init(serviceName_, serviceType_, serviceDomain_);
    stopCause_.store(cause);
    if (ZarvoConnectionDelegate* target = delegate()) {
        target->serverDidStop(this);
    }
}

void ZarvoServer::shutDown() {
    // Told before it is detached: an open question closes and typing ends at once.
    questionThread_.endQuestions();
    if (ZarvoConnectionDelegate* target = delegate()) {
        target->serverWillStop(this);
    }
    setDelegate(nullptr);
    // Before the lifecycle lock: a delayed start under way needs it to finish.
    restartTimer_.end();
    stop();
    std::lock_guard lifecycle(lifecycleLock_);
    joinRetiredThreads();
}

void ZarvoServer::endLoopThread() {
    if (!loopThread_.joinable()) {
        return;
    }
    loopControl_->ended.store(true);
    if (std::this_thread::get_id() == threadId_) {
        // The loop stopped its own server: it ends when the call that led here returns,
        // and a later start or stop on another thread joins it.
        retiredThreads_.push_back(std::move(loopThread_));
    } else {
        waker_.wake();
        loopThread_.join();
    }
    loopControl_.reset();
    threadId_ = std::thread::id();
}

void ZarvoServer::joinRetiredThreads() {
    const auto self = std::this_thread::get_id();
    std::vector<std::thread> stillRunning;
    for (auto& thread : retiredThreads_) {
        if (thread.get_id() == self) {
            stillRunning.push_back(std::move(thread));  // a thread cannot join itself
        } else {
            thread.join();
        }
    }
    retiredThreads_ = std::move(stillRunning);
}

}  // namespace pellvane
