// Sets and clears process environment variables in tests, on either platform.
#pragma once

namespace pellvane::testing {

void setEnvironment(const char* name, const char* value);
void clearEnvironment(const char* name);

// Sets a variable for the lifetime of the object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        setEnvironment(name, value);
    }
    ~ScopedEnvironment() { clearEnvironment(name_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
};

}  // namespace pellvane::testing
