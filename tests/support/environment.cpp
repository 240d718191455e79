#include "tests/support/environment.h"

#include <cstdlib>

namespace pellvane::testing {

#if defined(_WIN32)
void setEnvironment(const char* name, const char* value) {
    _putenv_s(name, value);
}
void clearEnvironment(const char* name) {
    _putenv_s(name, "");
}
#else
void setEnvironment(const char* name, const char* value) {
    setenv(name, value, 1);
}
void clearEnvironment(const char* name) {
    unsetenv(name);
}
#endif

}  // namespace pellvane::testing
