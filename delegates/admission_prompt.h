// The question put to the local user when a pad device says hello.
#pragma once

#include <span>
#include <string>

#include "platform/dialogs.h"

namespace pellvane {

// "<deviceName> requested to connect, accept connection?", the name taken up to its NUL
// and never past its 128-byte field or the end of the message, its control characters
// written as \xNN.
std::string admissionQuestion(std::span<const std::uint8_t> hello);

// 1 only when the user chose OK: Cancel, Escape, the close box and a box that could not
// be shown all refuse.
int askToAdmit(dialogs::Dialogs& dialogs, std::span<const std::uint8_t> hello);

}  // namespace pellvane
