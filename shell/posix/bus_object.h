// What every object on the bus answers besides its own methods: Introspect, and the
// Properties interface's Get and GetAll over the values an object reports now.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/session_bus.h"

namespace pellvane::shell {

using PropertyList = std::vector<std::pair<std::string, bus::Value>>;

struct BusInterface {
    std::string name;
    // The interface's <method>, <signal> and <property> elements, for Introspect.
    std::string members;
    std::function<PropertyList()> properties;
};

// The answer to a call of Introspectable or Properties; nothing for any other interface.
std::optional<bus::Reply> answerStandardCall(const bus::Message& call,
                                             const std::vector<BusInterface>& interfaces);

}  // namespace pellvane::shell
