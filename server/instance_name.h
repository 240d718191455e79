// The DNS-SD instance name that a service takes when its own name is taken on the network:
// "NAME (2)", "NAME (3)", ..., as DNS-SD programs conventionally rename.
#pragma once

#include <string>
#include <string_view>

namespace pellvane {

// An instance name is one DNS label: at most 63 bytes.
inline constexpr std::size_t instanceNameLimit = 63;

// "name (number)", the name shortened where needed (never inside a UTF-8 character) so
// that the whole stays within instanceNameLimit.
std::string alternativeInstanceName(std::string_view name, int number);

}  // namespace pellvane
