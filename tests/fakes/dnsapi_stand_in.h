// What the test dnsapi.dll and the in-memory system DNS-SD share: the journal they keep, one
// line per event, in the file that PELLVANE_FAKE_DNSAPI_LOG names, and how long they take to
// answer (PELLVANE_FAKE_DNSAPI_DELAY_MS, else `usual`). Header only: the DLL links nothing
// of the project.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace pellvane::testing {

inline void appendToDnsapiJournal(const std::string& line) {
    static std::mutex mutex;  // serialises appends within this program or library
    const char* path = std::getenv("PELLVANE_FAKE_DNSAPI_LOG");
    if (path == nullptr) {
        return;
    }
    std::lock_guard guard(mutex);
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

inline std::chrono::milliseconds dnsapiAnswerDelay(std::chrono::milliseconds usual) {
    const char* delay = std::getenv("PELLVANE_FAKE_DNSAPI_DELAY_MS");
    return delay == nullptr ? usual : std::chrono::milliseconds(std::strtoul(delay, nullptr, 10));
}

}  // namespace pellvane::testing
