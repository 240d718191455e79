// Collects the debug lines written while it is alive.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_output.h"

namespace pellvane::testing {

class DebugCapture : public debug::Listener {
  public:
    DebugCapture() { debug::setListener(this); }
    ~DebugCapture() override { debug::setListener(nullptr); }

    void debugText(std::string_view text) override;
    std::vector<std::string> lines() const;
    int count(std::string_view text) const;
    bool contains(std::string_view text) const { return count(text) > 0; }
    void clear();

  private:
    mutable std::mutex mutex_;  // guards lines_
    std::vector<std::string> lines_;
};

}  // namespace pellvane::testing
