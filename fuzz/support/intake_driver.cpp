#include "fuzz/support/intake_driver.h"

#include <algorithm>
#include <cstring>

namespace pellvane::fuzzing {
namespace {

constexpr std::size_t datagramBufferSize = 65535;

net::HostAddress ipv4Host(std::uint8_t last) {
    net::HostAddress host;
    host.bytes[0] = 127;
    host.bytes[3] = last;
    return host;
}

// The client connects from 127.0.0.1; foreign datagrams come from 127.0.0.2.
const net::HostAddress clientHost = ipv4Host(1);
const net::HostAddress foreignHost = ipv4Host(2);

}  // namespace

void MemorySocketIo::reset() {
    connectPending_ = clientOpen_ = clientClosed_ = false;
    toServer_.clear();
    readOffset_ = 0;
    datagrams_.clear();
    datagramBytes_.clear();
    nextDatagram_ = 0;
    bytesSent_ = 0;
}

void MemorySocketIo::queueDatagram(std::span<const std::uint8_t> bytes,
                                   const net::HostAddress& source) {
    datagrams_.push_back({datagramBytes_.size(), bytes.size(), source});
    datagramBytes_.insert(datagramBytes_.end(), bytes.begin(), bytes.end());
}

net::SocketHandle MemorySocketIo::accept(net::SocketHandle from) {
    if (from != listener || !connectPending_) {
        return net::invalidSocket;
    }
    connectPending_ = false;
    clientOpen_ = true;
    return client;
}

int MemorySocketIo::receive(net::SocketHandle socket, std::span<std::uint8_t> into) {
    if (socket != client || !clientOpen_) {
        return net::transferFailed;
    }
    if (unread() == 0) {
        return clientClosed_ ? 0 : net::transferWouldBlock;
    }
    const std::size_t taken = std::min(into.size(), unread());
    std::memcpy(into.data(), toServer_.data() + readOffset_, taken);
    readOffset_ += taken;
    return static_cast<int>(taken);
}

int MemorySocketIo::receiveDatagram(net::SocketHandle socket, std::span<std::uint8_t> into,
                                    net::DatagramSource& source) {
    if (socket != datagramSocket || !hasDatagrams()) {
        return net::transferWouldBlock;
    }
    const Datagram& next = datagrams_[nextDatagram_++];
    // A datagram longer than the buffer is cut to it, as the system does.
    const std::size_t taken = std::min(into.size(), next.size);
    std::memcpy(into.data(), datagramBytes_.data() + next.offset, taken);
    source.host = next.source;
    source.sourceLength = net::ipv4AddressLength;
    return static_cast<int>(taken);
}

int MemorySocketIo::send(net::SocketHandle socket, std::span<const std::uint8_t> bytes) {
    if (socket != client || !clientOpen_) {
        return net::transferFailed;
    }
    bytesSent_ += bytes.size();
    return static_cast<int>(bytes.size());
}

bool MemorySocketIo::peerHost(net::SocketHandle socket, net::HostAddress& host) {
    if (socket != client || !clientOpen_) {
        return false;
    }
    host = clientHost;
    return true;
}

int MemorySocketIo::close(net::SocketHandle socket) {
    if (socket != client || !clientOpen_) {
        return -1;
    }
    clientOpen_ = false;
    toServer_.clear();
    readOffset_ = 0;
    return 0;
}

IntakeDriver::IntakeDriver()
    : padServer_("FuzzHost", "_kesp._tcp", "", io_),
      channelServer_("FuzzHost", "_kespchan._tcp", "local.", io_) {
    channelServer_.setAutoAdmit(true);
    padServer_.setQuestionAsker(questions_);
    channelServer_.setQuestionAsker(questions_);
}

void AnsweringAtOnce::put(Question question) {
    Answer answer{question.client, question.host, false, nullptr};
    answer.admitted = delegate_.shouldAdmitClient(server_, &question.hello) != 0;
    if (answer.admitted) {
        answer.applications = delegate_.applicationList(server_, &question.hello);
    }
    answers_.push_back(std::move(answer));
}

void AnsweringAtOnce::takeAnswers(std::vector<Answer>& into) {
    into.clear();
    std::swap(into, answers_);
}

IntakeDriver::~IntakeDriver() {
    padServer_.shutDown();
    channelServer_.shutDown();
}

std::unique_ptr<wire::AppList> NotingDelegate::applicationList(ZarvoServer*,
                                                               const ReceivedMessage*) {
    if (!listApps) {
        return nullptr;
    }
    auto list = std::make_unique<wire::AppList>();
    list->records.resize(3);
    list->records[0].setName("notepad");
    list->records[1].setName("calc");
    list->records[2].setName(std::string(200, 'x'));
    return list;
}

void NotingDelegate::reset(int answer, bool apps) {
    admitAnswer = answer;
    listApps = apps;
    questions = admissions = 0;
    messages.clear();
}

void IntakeDriver::begin(const IntakeSettings& settings) {
    io_.reset();
    server_ = settings.autoAdmit ? &channelServer_ : &padServer_;
    delegate_.reset(settings.refuse ? 0 : 1, settings.listApps);
    server_->intake().forgetRefusedHosts();  // every run starts afresh
    server_->setDelegate(&delegate_);
}

// Everything a run made is released again before it returns, so that libFuzzer's leak
// check sees each run balanced.
void IntakeDriver::end() {
    if (clientWatched()) {
        closeClient();
    }
    server_->setDelegate(nullptr);
    delegate_.reset(1, false);
    io_.reset();
}

bool IntakeDriver::connectClient() {
    io_.connect();
    server_->intake().acceptFrom(MemorySocketIo::listener);
    return clientWatched();
}

bool IntakeDriver::clientWatched() const {
    return client().has_value();
}

std::optional<ClientId> IntakeDriver::client() const {
    static std::vector<ClientTable::Watch> watches;
    server_->clients().watches(watches);
    for (const ClientTable::Watch& watch : watches) {
        if (watch.client && watch.socket == MemorySocketIo::client) {
            return watch.client;
        }
    }
    return std::nullopt;
}

std::size_t IntakeDriver::heldByServer() const {
    const ClientTable& clients = server_->clients();
    return clients.watchedCount() + clients.waitingCount() + clients.clientCount();
}

// Passes of the loop over the client: a receive while its connection is readable, the whole
// messages waiting, the answers to questions and the writes, until nothing is left. The call
// before this one left no whole message behind.
void IntakeDriver::takeWhileReadable() {
    ClientIntake& intake = server_->intake();
    const std::optional<ClientId> id = client();  // the one client; its id stays its own
    bool messagesLeft = false;
    while (id && io_.clientOpen() && (io_.hasUnreadBytes() || messagesLeft)) {
        if (io_.hasUnreadBytes()) {
            intake.takeStreamBytes(*id);
        }
        messagesLeft = intake.handleWaitingMessages();
        intake.takeAnswers();
        intake.writeOutput();
        messagesLeft = messagesLeft || intake.hasWaitingMessages();
    }
}

void IntakeDriver::feed(std::span<const std::uint8_t> bytes) {
    if (!io_.clientOpen()) {
        return;
    }
    io_.write(bytes);
    takeWhileReadable();
}

void IntakeDriver::closeClient() {
    io_.closeClientSide();
    takeWhileReadable();
}

void IntakeDriver::queueDatagram(std::span<const std::uint8_t> bytes, bool foreign) {
    io_.queueDatagram(bytes, foreign ? foreignHost : clientHost);
}

void IntakeDriver::takeDatagrams() {
    // Like the loop's, made once and used for every datagram.
    static std::vector<std::uint8_t> buffer(datagramBufferSize);
    while (io_.hasDatagrams()) {
        server_->intake().takeDatagrams(MemorySocketIo::datagramSocket, net::Family::ipv4, buffer);
    }
}

}  // namespace pellvane::fuzzing
