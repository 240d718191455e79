#include "server/client_placement.h"

#include <map>
#include <tuple>

#include "server/client_table.h"

namespace pellvane {
namespace {

struct HostOrder {
    bool operator()(const net::HostAddress& a, const net::HostAddress& b) const {
        return std::tie(a.family, a.bytes) < std::tie(b.family, b.bytes);
    }
};

bool waitsForAdmission(const Occupant& occupant) {
    return occupant.stage == ClientStage::waiting || occupant.stage == ClientStage::asked;
}

std::uint32_t countFrom(std::span<const Occupant> occupants, const net::HostAddress& host,
                        bool waitingOnly) {
    std::uint32_t count = 0;
    for (const Occupant& occupant : occupants) {
        if (occupant.host == host && (!waitingOnly || waitsForAdmission(occupant))) {
            ++count;
        }
    }
    return count;
}

// A connection being asked about waits for a person; it is not taken away from them.
std::optional<ClientId> oldestWaiting(std::span<const Occupant> occupants) {
    for (const Occupant& occupant : occupants) {
        if (occupant.stage == ClientStage::waiting) {
            return occupant.id;
        }
    }
    return std::nullopt;
}

std::optional<ClientId> idlestOfBusiestHost(std::span<const Occupant> occupants,
                                            const net::HostAddress& newcomer) {
    std::map<net::HostAddress, std::uint32_t, HostOrder> held;
    for (const Occupant& occupant : occupants) {
        ++held[occupant.host];
    }
    const net::HostAddress* busiest = nullptr;
    std::uint32_t most = 0;
    for (const auto& [host, count] : held) {
        if (count > most) {
            busiest = &host;
            most = count;
        }
    }
    const auto newcomerHolds = held.find(newcomer);
    const std::uint32_t newcomerCount = newcomerHolds == held.end() ? 0 : newcomerHolds->second;
    if (busiest == nullptr || most <= newcomerCount + 1) {
        return std::nullopt;  // taking one from it would leave it no fewer than the newcomer
    }
    const Occupant* idlest = nullptr;
    for (const Occupant& occupant : occupants) {
        if (occupant.host == *busiest && occupant.stage != ClientStage::asked &&
            (idlest == nullptr || occupant.lastActivity < idlest->lastActivity)) {
            idlest = &occupant;
        }
    }
    return idlest == nullptr ? std::nullopt : std::optional(idlest->id);
}

}  // namespace

Placement placeNewcomer(std::span<const Occupant> occupants, const net::HostAddress& newcomer,
                        bool full, std::uint32_t waitingPerHost, std::uint32_t perHost) {
    Placement place;
    if (countFrom(occupants, newcomer, true) >= waitingPerHost) {
        place.refusal = L"Too many connections waiting for admission from one host\n";
        return place;
    }
    if (countFrom(occupants, newcomer, false) >= perHost) {
        place.refusal = L"Too many connections from one host\n";
        return place;
    }
    if (!full) {
        return place;
    }
    if ((place.givesWay = oldestWaiting(occupants))) {
        place.reason = L"The connection waiting longest for admission gives way\n";
    } else if ((place.givesWay = idlestOfBusiestHost(occupants, newcomer))) {
        place.reason = L"An idle connection of the host with the most gives way\n";
    } else {
        place.refusal = L"No room for another client\n";
    }
    return place;
}

}  // namespace pellvane
