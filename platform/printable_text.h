// Text that came from the network, made safe to show on a terminal or in a box.
#pragma once

#include <string>
#include <string_view>

namespace pellvane {

// Every control character written as \xNN, one escape per byte: C0 (line breaks, escape
// sequences), DEL, and C1, whether it comes as a bare byte (0x80-0x9F, which an 8-bit
// terminal takes as a control) or UTF-8 encoded (U+0080-U+009F). Other bytes pass
// unchanged, so UTF-8 names keep their letters.
std::string printableText(std::string_view text);
// The same, appended to `out`.
void appendPrintableText(std::string& out, std::string_view text);

}  // namespace pellvane
