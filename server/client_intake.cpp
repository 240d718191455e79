#include "server/client_intake.h"

#include <algorithm>
#include <tuple>

#include "platform/debug_output.h"
#include "server/socket_io.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace pellvane {
namespace {

// The most that one pass takes from one source, so that a busy pad cannot hold up the others:
// with the 1 ms pause between passes, a pad still gets well over 64,000 events a second in.
constexpr int datagramsPerPass = 256;
constexpr int messagesPerPass = 256;

}  // namespace

bool ClientIntake::HostOrder::operator()(const net::HostAddress& a,
                                         const net::HostAddress& b) const {
    return std::tie(a.family, a.bytes) < std::tie(b.family, b.bytes);
}

ClientIntake::ClientIntake(ZarvoServer& server, SocketIo& io, ClientTable& clients)
    : server_(server), io_(io), clients_(clients) {}

void ClientIntake::reset() {
    askedHosts_.clear();
    waitingHellos_.clear();
    refused_.clear();
}

void ClientIntake::acceptFrom(net::SocketHandle listener) {
    if (listener == net::invalidSocket) {
        return;
    }
    const net::SocketHandle socket = io_.accept(listener);
    if (socket == net::invalidSocket) {
        debug::output(L"Invalid client socket\n");
        return;
    }
    net::HostAddress peer;  // a peer the system cannot name counts as one unnamed host
    io_.peerHost(socket, peer);
    const Placement place = clients_.placeFor(peer);
    if (place.refusal != nullptr) {
        debug::output(place.refusal);
        io_.close(socket);
        return;
    }
    if (place.givesWay) {
        debug::output(place.reason);
        drop(*place.givesWay);
    }
    if (!clients_.add(socket, peer, Clock::now())) {
        debug::output(L"No room for another client\n");
    }
}

bool ClientIntake::takeStreamBytes(ClientId client) {
    const ClientTable::Reading reading = clients_.reading(client);
    if (reading.stream == nullptr) {
        return false;
    }
    const std::span<std::uint8_t> room = reading.stream->receiveSpace();
    if (room.empty()) {
        // Whole messages fill the stream: they are handled first, unless they wait for an
        // answer, and then the rest waits in the system.
        return reading.takesMessages();
    }
    const int received = io_.receive(reading.socket, room);
    if (received == net::transferWouldBlock) {
        return false;  // readiness without data: nothing to do this pass
    }
    if (received <= 0) {
        if (received == 0) {
            debug::output(L"Client gracefully closed connection\n");
        }
        drop(client);
        return false;
    }
    reading.stream->received(static_cast<std::size_t>(received));
    return static_cast<std::size_t>(received) == room.size();
}

bool ClientIntake::hasWaitingMessages() {
    clients_.clientsWithBytes(scratch_);
    return std::any_of(scratch_.begin(), scratch_.end(), [this](ClientId client) {
        const ClientTable::Reading reading = clients_.reading(client);
        return reading.takesMessages() && reading.stream->hasMessage();
    });
}

// Every stream that holds a header is looked at, so that one out of range is dropped (and
// said) as soon as it is whole.
bool ClientIntake::handleWaitingMessages() {
    // Gathered first: handling a message may drop a client, and its stream with it.
    clients_.clientsWithBytes(passClients_);
    bool messagesLeft = false;
    for (ClientId client : passClients_) {
        handleMessagesOf(client, messagesLeft);
    }
    return messagesLeft;
}

// A client that waits for its answer, or was refused, keeps its messages where they are.
void ClientIntake::handleMessagesOf(ClientId client, bool& messagesLeft) {
    for (int handled = 0; handled < messagesPerPass; ++handled) {
        const ClientTable::Reading reading = clients_.reading(client);  // a message may drop it
        if (!reading.takesMessages()) {
            return;
        }
        FrameDecoder* stream = reading.stream;
        const std::size_t discardedBefore = stream->discardedHeaders();
        std::optional<ReceivedMessage> message = stream->next();
        if (stream->discardedHeaders() != discardedBefore) {
            debug::output(L"packetSize < headerSize || packetSize > MAXUINT16");
        }
        if (!message) {
            return;
        }
        handleMessage(client, std::move(*message));
    }
    const ClientTable::Reading reading = clients_.reading(client);
    messagesLeft = messagesLeft || (reading.takesMessages() && reading.stream->hasMessage());
}

void ClientIntake::handleMessage(ClientId client, ReceivedMessage message) {
    const std::optional<ClientStage> stage = clients_.stage(client);
    if (!stage) {
        return;
    }
    clients_.noteActivity(client, Clock::now());
    if (server_.delegate() == nullptr) {
        drop(client);
        return;
    }
    if (*stage != ClientStage::admitted) {
        handleFirstMessage(client, std::move(message));
        return;
    }
    if (message.header.type == wire::UdpInfo) {
        debug::output(L"UDP Info received!\n");
        return;
    }
    deliver(client, std::move(message));
}

void ClientIntake::handleFirstMessage(ClientId client, ReceivedMessage message) {
    if (server_.autoAdmit()) {
        admit(client, nullptr);
        deliver(client, std::move(message));
        return;
    }
    const wire::MessageHeader header = message.header;
    if (header.type == wire::HelloReply) {
        return;  // stays waiting
    }
    if (header.type != wire::Hello) {
        drop(client);
        return;
    }
    if (header.argument != wire::helloArgument) {
        refuse(client);
        return;
    }
    // Nobody is asked about a device that has gone already.
    if (!stillWanted(client)) {
        drop(client);
        return;
    }
    clients_.setDeviceName(
        client, std::string(wire::readNameField(message.bytes, wire::helloLayout::deviceName)));
    const std::optional<net::HostAddress> host = clients_.host(client);
    if (refusedHosts_.refusesNow(*host, Clock::now())) {
        debug::output(L"Refused without asking: the user refused this host a moment ago\n");
        refuse(client);
        return;
    }
    ask(client, *host, std::move(message));
}

// One question per host at a time: a host's other Hellos wait behind it, and share its fate
// when it is refused.
void ClientIntake::ask(ClientId client, const net::HostAddress& host, ReceivedMessage hello) {
    clients_.setStage(client, ClientStage::asked);
    std::deque<ClientId>& line = askedHosts_[host];
    line.push_back(client);
    if (line.size() > 1) {
        waitingHellos_[client] = std::move(hello);
        return;
    }
    questions_->put({client, host, std::move(hello)});
}

void ClientIntake::takeAnswers() {
    questions_->takeAnswers(answers_);
    for (Answer& answer : answers_) {
        answered(std::move(answer));
    }
    answers_.clear();
}

void ClientIntake::answered(Answer answer) {
    const auto line = askedHosts_.find(answer.host);
    if (line != askedHosts_.end()) {
        std::erase(line->second, answer.client);
    }
    const bool stillAsked = clients_.stage(answer.client) == ClientStage::asked;
    if (!answer.admitted) {
        refusedHosts_.noteRefusal(answer.host, Clock::now());
        if (stillAsked) {
            refuse(answer.client);
        }
        if (line != askedHosts_.end()) {
            for (ClientId waiting : line->second) {
                waitingHellos_.erase(waiting);
                refuse(waiting);
            }
            askedHosts_.erase(line);
        }
        return;
    }
    refusedHosts_.forget(answer.host);
    // Nobody is admitted that went, or whose server began to stop, while the question was
    // open.
    if (stillAsked && stillWanted(answer.client)) {
        admit(answer.client, std::move(answer.applications));
    } else {
        drop(answer.client);
    }
    askNextOf(answer.host);
}

void ClientIntake::askNextOf(const net::HostAddress& host) {
    const auto line = askedHosts_.find(host);
    if (line == askedHosts_.end()) {
        return;
    }
    if (line->second.empty()) {
        askedHosts_.erase(line);
        return;
    }
    const ClientId next = line->second.front();
    const auto hello = waitingHellos_.find(next);
    ReceivedMessage message =
        hello == waitingHellos_.end() ? ReceivedMessage{} : std::move(hello->second);
    if (hello != waitingHellos_.end()) {
        waitingHellos_.erase(hello);
    }
    questions_->put({next, host, std::move(message)});
}

// An asked client went: a question not yet put is taken back (and the host's next one
// asked); an open one is answered as usual, and its answer then finds nobody.
void ClientIntake::questionGone(ClientId client, const net::HostAddress& host) {
    const auto line = askedHosts_.find(host);
    if (line == askedHosts_.end()) {
        return;
    }
    std::deque<ClientId>& waiting = line->second;
    if (!waiting.empty() && waiting.front() == client) {
        if (questions_->withdraw(client)) {
            waiting.pop_front();
            askNextOf(host);
        }
        return;
    }
    std::erase(waiting, client);
    waitingHellos_.erase(client);
}

void ClientIntake::admit(ClientId client, std::unique_ptr<wire::AppList> applications) {
    const Clock::time_point now = Clock::now();
    const Message reply = wire::buildHelloReply(server_.serviceName(), applications.get());
    applications.reset();
    clients_.setStage(client, ClientStage::admitted);
    clients_.queue(client, reply, now);
    // The reply goes out before the delegate hears of the admission, the UdpInfo after it.
    if (!clients_.flush(client, now)) {
        drop(client);
        return;
    }
    if (ZarvoConnectionDelegate* target = server_.delegate()) {
        target->serverDidAdmitClient(&server_);
    }
    debug::output(L"UDP Channel opened to client\n");
    clients_.queue(client, wire::buildUdpInfo(server_.udpPort4(), server_.udpPort6()), now);
}

void ClientIntake::refuse(ClientId client) {
    clients_.queue(client, wire::buildRefusal(server_.serviceName()), Clock::now());
    clients_.setStage(client, ClientStage::refused);
    refused_.insert(client);
}

void ClientIntake::deliver(ClientId client, ReceivedMessage message) {
    ZarvoConnectionDelegate* target = server_.delegate();
    const std::optional<net::HostAddress> host = clients_.host(client);
    if (target != nullptr && host) {
        target->serverDidReceiveMessageFrom(&server_, std::move(message), *host);
    }
}

bool ClientIntake::stillWanted(ClientId client) const {
    const std::optional<net::SocketHandle> socket = clients_.socket(client);
    return socket && !server_.stopping() && !io_.peerHasGone(*socket);
}

void ClientIntake::writeOutput() {
    const Clock::time_point now = Clock::now();
    clients_.clientsWithOutput(passClients_);
    for (ClientId client : passClients_) {
        if (!clients_.flush(client, now)) {
            drop(client);  // the connection is broken
        }
    }
    for (auto next = refused_.begin(); next != refused_.end();) {
        const ClientId client = *next++;
        if (!clients_.hasOutput(client)) {
            drop(client);
        }
    }
}

void ClientIntake::closeLateAndStalled() {
    const Clock::time_point now = Clock::now();
    for (ClientId client : clients_.overdue(now)) {
        debug::output(L"Closing a connection that sent no message in time\n");
        drop(client);
    }
    for (ClientId client : clients_.stalled(now)) {
        debug::output(L"Dropping a client that has taken nothing of its messages for too long\n");
        drop(client);
    }
}

void ClientIntake::drop(ClientId client) {
    refused_.erase(client);
    const std::optional<ClientTable::Dropped> dropped = clients_.drop(client);
    if (!dropped) {
        return;
    }
    if (dropped->stage == ClientStage::asked) {
        questionGone(client, dropped->host);
    }
    ZarvoConnectionDelegate* target = server_.delegate();
    if (dropped->stage == ClientStage::admitted && !dropped->hostHasAdmittedLeft &&
        target != nullptr) {
        target->serverDidLoseHost(&server_, dropped->host, !dropped->admittedLeft);
    }
}

bool ClientIntake::takeDatagrams(net::SocketHandle socket, net::Family family,
                                 std::vector<std::uint8_t>& buffer) {
    for (int taken = 0; taken < datagramsPerPass; ++taken) {
        if (!takeDatagram(socket, family, buffer)) {
            return false;
        }
    }
    return true;
}

// One datagram, one message: it is handed on when it is exactly one whole message, comes
// from a sender of the socket's family and, for the pad service, from an admitted host.
// False when there was none to take.
bool ClientIntake::takeDatagram(net::SocketHandle socket, net::Family family,
                                std::vector<std::uint8_t>& buffer) {
    net::DatagramSource source;
    const int received = io_.receiveDatagram(socket, buffer, source);
    if (received < 0) {
        return false;
    }
    const int expectedSourceLength =
        family == net::Family::ipv4 ? net::ipv4AddressLength : net::ipv6AddressLength;
    if (received < static_cast<int>(wire::headerSize) ||
        source.sourceLength != expectedSourceLength) {
        return true;
    }
    // Without admission by datagram, only hosts that the local user admitted may send
    // events to the pad service; the channel service takes them from anyone. The source is
    // looked at first, so that a flood from elsewhere is not even copied.
    if (!server_.autoAdmit() && !clients_.hostIsAdmitted(source.host)) {
        return true;
    }
    std::optional<ReceivedMessage> message =
        wire::wholeMessage(std::span(buffer).first(static_cast<std::size_t>(received)));
    if (!message) {
        return true;
    }
    if (ZarvoConnectionDelegate* target = server_.delegate()) {
        target->serverDidReceiveMessageFrom(&server_, std::move(*message), source.host);
    }
    return true;
}

}  // namespace pellvane
