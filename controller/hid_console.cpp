#include "controller/hid_console.h"

#include <cstdarg>
#include <cstdio>

namespace pellvane {

void printHidLine(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

}  // namespace pellvane
