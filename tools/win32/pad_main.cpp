// pellvane-pad's entry point on Windows: the wide command line is taken as UTF-16 and
// handed on as UTF-8, so that any text can be typed whatever the console's code page.
#include <iostream>
#include <string>
#include <vector>

#include "tools/pad_program.h"
#include "tools/pad_tool.h"
#include "tools/utf8_text.h"

int wmain(int argc, wchar_t** argv) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view wide(argv[i]);
        const std::u16string units(wide.begin(), wide.end());
        const auto text = pellvane::tool::utf8FromUtf16(units);
        if (!text) {
            std::cerr << "pellvane-pad: argument " << i << " is not valid text" << std::endl;
            return pellvane::tool::exitBadArguments;
        }
        args.push_back(*text);
    }
    return pellvane::tool::runPadProgram(args);
}
