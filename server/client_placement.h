// Where a newcomer fits among a service's connections. Connections that never speak, or one
// host that opens many, must not take every place and lock real devices and programs out.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/sockets.h"

namespace pellvane {

using ClientId = std::uint64_t;
enum class ClientStage;

struct Occupant {
    ClientId id = 0;
    net::HostAddress host;
    ClientStage stage;
    std::chrono::steady_clock::time_point lastActivity;  // accepted, or its latest message
};

struct Placement {
    std::optional<ClientId> givesWay;  // dropped to make room for the newcomer
    const wchar_t* refusal = nullptr;  // the newcomer is refused, with this debug line
    const wchar_t* reason = nullptr;   // why `givesWay` goes, for the debug output
};

// `occupants` in the order they came; `full` when no more sockets can be watched.
// A host may have at most `waitingPerHost` connections waiting for admission and `perHost`
// in all. On a full service the connection waiting longest for admission gives way; when
// none waits (but for those being asked about), the connection idle longest of the host
// that holds the most places does, if that host holds at least two more than the newcomer's
// (taking one would otherwise only move the unfairness).
Placement placeNewcomer(std::span<const Occupant> occupants, const net::HostAddress& newcomer,
                        bool full, std::uint32_t waitingPerHost, std::uint32_t perHost);

}  // namespace pellvane
