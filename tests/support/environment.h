// Sets and clears process environment variables in tests, on either platform.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace pellvane::testing {

void setEnvironment(const char* name, const char* value);
void clearEnvironment(const char* name);

// Sets a variable (or with a null value clears it) for the lifetime of the object, and
// puts back what it was before.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* before = std::getenv(name)) {
            before_ = before;
        }
        if (value != nullptr) {
            setEnvironment(name, value);
        } else {
            clearEnvironment(name);
        }
    }
    ~ScopedEnvironment() {
        if (before_) {
            setEnvironment(name_, before_->c_str());
        } else {
            clearEnvironment(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> before_;
};

}  // namespace pellvane::testing
