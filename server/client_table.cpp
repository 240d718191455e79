#include "server/client_table.h"

#include <algorithm>

#include "server/socket_io.h"

namespace pellvane {

ClientTable::~ClientTable() {
    dropAll();
}

void ClientTable::setFirstMessageTime(std::chrono::milliseconds time) {
    std::lock_guard guard(lock_);
    firstMessageTime_ = time;
}

void ClientTable::setStallTime(std::chrono::milliseconds time) {
    std::lock_guard guard(lock_);
    stallTime_ = time;
}

void ClientTable::watchServiceSockets(std::span<const net::SocketHandle> sockets) {
    std::lock_guard guard(lock_);
    watched_.clear();
    service_.clear();
    for (net::SocketHandle socket : sockets) {
        if (socket != net::invalidSocket && watched_.add(socket)) {
            service_.push_back(socket);
        }
    }
    for (const auto& [id, client] : clients_) {
        watched_.add(client.socket);
    }
}

void ClientTable::unwatchServiceSocket(net::SocketHandle socket) {
    std::lock_guard guard(lock_);
    watched_.remove(socket);
    std::erase(service_, socket);
}

void ClientTable::watchServiceSocket(net::SocketHandle socket) {
    if (socket == net::invalidSocket) {
        return;
    }
    std::lock_guard guard(lock_);
    if (watched_.add(socket) &&
        std::find(service_.begin(), service_.end(), socket) == service_.end()) {
        service_.push_back(socket);
    }
}

Placement ClientTable::placeFor(const net::HostAddress& host) const {
    std::vector<Occupant> occupants;
    std::lock_guard guard(lock_);
    occupants.reserve(clients_.size());
    for (const auto& [id, client] : clients_) {
        occupants.push_back({id, client.host, client.stage, client.lastActivity});
    }
    return placeNewcomer(occupants, host, watched_.full(), waitingPerHostLimit, perHostLimit);
}

std::optional<ClientId> ClientTable::add(net::SocketHandle socket, const net::HostAddress& host,
                                         Clock::time_point now) {
    std::unique_lock guard(lock_);
    if (watched_.full()) {
        guard.unlock();
        io_.close(socket);  // unwatched, it would never be read nor closed
        return std::nullopt;
    }
    const ClientId id = nextId_++;
    Client& client = clients_[id];
    client.socket = socket;
    client.host = host;
    client.acceptedAt = client.lastActivity = client.outputSince = now;
    watched_.add(socket);
    waiting_.add(socket);
    return id;
}

std::optional<ClientTable::Dropped> ClientTable::drop(ClientId id) {
    Dropped dropped;
    net::SocketHandle socket = net::invalidSocket;
    {
        std::lock_guard guard(lock_);
        const auto found = clients_.find(id);
        if (found == clients_.end()) {
            return std::nullopt;
        }
        socket = found->second.socket;
        dropped.host = found->second.host;
        dropped.stage = found->second.stage;
        watched_.remove(socket);
        waiting_.remove(socket);
        clients_.erase(found);
        for (const auto& [otherId, other] : clients_) {
            if (other.stage == ClientStage::admitted) {
                dropped.admittedLeft = true;
                dropped.hostHasAdmittedLeft =
                    dropped.hostHasAdmittedLeft || other.host == dropped.host;
            }
        }
    }
    // Closed after it left the sets, so no other thread sees its handle while it is reused.
    dropped.closeResult = io_.close(socket);
    return dropped;
}

void ClientTable::dropAll() {
    std::map<ClientId, Client> gone;
    {
        std::lock_guard guard(lock_);
        gone.swap(clients_);
        watched_.clear();
        service_.clear();
        waiting_.clear();
    }
    for (const auto& [id, client] : gone) {
        io_.close(client.socket);
    }
}

void ClientTable::watches(std::vector<Watch>& into) const {
    into.clear();
    std::lock_guard guard(lock_);
    for (net::SocketHandle socket : service_) {
        into.push_back({socket, std::nullopt, true, false});
    }
    for (const auto& [id, client] : clients_) {
        Watch watch;
        watch.socket = client.socket;
        watch.client = id;
        // A refused client is only written to. One that waits for its answer is read until
        // its decoder is full: the rest waits in the system until the answer.
        watch.wantReadable =
            client.stage != ClientStage::refused &&
            (client.stage != ClientStage::asked || client.stream.held() < FrameDecoder::capacity);
        watch.wantWritable = !client.output.empty();
        into.push_back(watch);
    }
}

ClientTable::Client* ClientTable::findLocked(ClientId id) {
    const auto found = clients_.find(id);
    return found == clients_.end() ? nullptr : &found->second;
}

const ClientTable::Client* ClientTable::findLocked(ClientId id) const {
    const auto found = clients_.find(id);
    return found == clients_.end() ? nullptr : &found->second;
}

std::optional<ClientStage> ClientTable::stage(ClientId id) const {
    std::lock_guard guard(lock_);
    const Client* client = findLocked(id);
    return client == nullptr ? std::nullopt : std::optional(client->stage);
}

void ClientTable::setStage(ClientId id, ClientStage stage) {
    std::lock_guard guard(lock_);
    if (Client* client = findLocked(id)) {
        client->stage = stage;
        if (stage == ClientStage::admitted || stage == ClientStage::refused) {
            waiting_.remove(client->socket);
        }
    }
}

std::optional<net::HostAddress> ClientTable::host(ClientId id) const {
    std::lock_guard guard(lock_);
    const Client* client = findLocked(id);
    return client == nullptr ? std::nullopt : std::optional(client->host);
}

std::optional<net::SocketHandle> ClientTable::socket(ClientId id) const {
    std::lock_guard guard(lock_);
    const Client* client = findLocked(id);
    return client == nullptr ? std::nullopt : std::optional(client->socket);
}

void ClientTable::noteActivity(ClientId id, Clock::time_point now) {
    std::lock_guard guard(lock_);
    if (Client* client = findLocked(id)) {
        client->spoke = true;
        client->lastActivity = now;
    }
}

ClientTable::Reading ClientTable::reading(ClientId id) {
    std::lock_guard guard(lock_);
    Client* client = findLocked(id);
    if (client == nullptr) {
        return {};
    }
    return {&client->stream, client->socket, client->stage};
}

void ClientTable::clientsWithBytes(std::vector<ClientId>& into) {
    into.clear();
    std::lock_guard guard(lock_);
    for (const auto& [id, client] : clients_) {
        if (client.stream.held() >= wire::headerSize) {
            into.push_back(id);
        }
    }
}

bool ClientTable::queue(ClientId id, std::span<const std::uint8_t> message, Clock::time_point now) {
    std::lock_guard guard(lock_);
    Client* client = findLocked(id);
    if (client == nullptr) {
        return false;
    }
    if (client->output.empty()) {
        client->outputSince = now;
    }
    client->output.push(message);
    return true;
}

int ClientTable::queueToAdmitted(std::span<const std::uint8_t> message, int& skipped,
                                 Clock::time_point now) {
    int taken = 0;
    skipped = 0;
    std::lock_guard guard(lock_);
    for (auto& [id, client] : clients_) {
        if (client.stage != ClientStage::admitted) {
            continue;
        }
        const bool wasEmpty = client.output.empty();
        if (!client.output.pushBounded(message)) {
            ++skipped;
            continue;
        }
        if (wasEmpty) {
            client.outputSince = now;
        }
        ++taken;
    }
    return taken;
}

bool ClientTable::flush(ClientId id, Clock::time_point now) {
    for (;;) {
        net::SocketHandle socket = net::invalidSocket;
        std::span<const std::uint8_t> next;
        {
            std::lock_guard guard(lock_);
            const Client* client = findLocked(id);
            if (client == nullptr) {
                return true;
            }
            socket = client->socket;
            next = client->output.front();
        }
        if (next.empty()) {
            return true;
        }
        // Only this thread takes from the queue, and pushes leave its front in place.
        const int sent = io_.send(socket, next);
        if (sent == net::transferWouldBlock) {
            return true;
        }
        if (sent <= 0) {
            return false;
        }
        std::lock_guard guard(lock_);
        if (Client* client = findLocked(id)) {
            client->output.consume(static_cast<std::size_t>(sent));
            client->outputSince = now;
        }
        if (static_cast<std::size_t>(sent) < next.size()) {
            return true;  // the connection took what it could
        }
    }
}

bool ClientTable::hasOutput(ClientId id) const {
    std::lock_guard guard(lock_);
    const Client* client = findLocked(id);
    return client != nullptr && !client->output.empty();
}

void ClientTable::clientsWithOutput(std::vector<ClientId>& into) const {
    into.clear();
    std::lock_guard guard(lock_);
    for (const auto& [id, client] : clients_) {
        if (!client.output.empty()) {
            into.push_back(id);
        }
    }
}

std::vector<ClientId> ClientTable::overdue(Clock::time_point now) const {
    std::vector<ClientId> late;
    std::lock_guard guard(lock_);
    for (const auto& [id, client] : clients_) {
        if (!client.spoke && now - client.acceptedAt >= firstMessageTime_) {
            late.push_back(id);
        }
    }
    return late;
}

std::vector<ClientId> ClientTable::stalled(Clock::time_point now) const {
    std::vector<ClientId> stuck;
    std::lock_guard guard(lock_);
    for (const auto& [id, client] : clients_) {
        if (!client.output.empty() && now - client.outputSince >= stallTime_) {
            stuck.push_back(id);
        }
    }
    return stuck;
}

std::optional<ClientTable::Clock::time_point> ClientTable::nextDeadline() const {
    std::optional<Clock::time_point> next;
    auto consider = [&](Clock::time_point due) {
        if (!next || due < *next) {
            next = due;
        }
    };
    std::lock_guard guard(lock_);
    for (const auto& [id, client] : clients_) {
        if (!client.spoke) {
            consider(client.acceptedAt + firstMessageTime_);
        }
        if (!client.output.empty()) {
            consider(client.outputSince + stallTime_);
        }
    }
    return next;
}

bool ClientTable::hostIsAdmitted(const net::HostAddress& host) const {
    std::lock_guard guard(lock_);
    return std::any_of(clients_.begin(), clients_.end(), [&](const auto& entry) {
        return entry.second.stage == ClientStage::admitted && entry.second.host == host;
    });
}

void ClientTable::setDeviceName(ClientId id, std::string name) {
    std::lock_guard guard(lock_);
    if (Client* client = findLocked(id)) {
        client->deviceName = std::move(name);
    }
}

std::vector<ClientTable::AdmittedClient> ClientTable::admittedClients() const {
    std::lock_guard guard(lock_);
    std::vector<AdmittedClient> admitted;
    for (const auto& [id, client] : clients_) {
        if (client.stage == ClientStage::admitted) {
            admitted.push_back({client.deviceName, client.host});
        }
    }
    return admitted;
}

std::uint32_t ClientTable::watchedCount() const {
    std::lock_guard guard(lock_);
    return watched_.count();
}

std::uint32_t ClientTable::waitingCount() const {
    std::lock_guard guard(lock_);
    return waiting_.count();
}

std::uint32_t ClientTable::clientCount() const {
    std::lock_guard guard(lock_);
    return static_cast<std::uint32_t>(clients_.size());
}

std::uint32_t ClientTable::admittedCount() const {
    std::lock_guard guard(lock_);
    return static_cast<std::uint32_t>(std::count_if(
        clients_.begin(), clients_.end(),
        [](const auto& entry) { return entry.second.stage == ClientStage::admitted; }));
}

}  // namespace pellvane
