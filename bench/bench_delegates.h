// Server delegates for the benchmark programs: one that admits every client and ignores
// every report, and one that also notes when each numbered message arrives.
#pragma once

#include <cstdint>
#include <memory>

#include "bench/sequence_arrivals.h"
#include "server/connection_delegate.h"

namespace pellvane::bench {

// Admits every client, lists no applications and ignores every report; a benchmark
// overrides only what it measures.
class AdmittingDelegate : public ZarvoConnectionDelegate {
  public:
    void serverDidPublish(ZarvoServer*) override {}
    void resetRetryCount(ZarvoServer*) override {}
    void serverDidAdmitClient(ZarvoServer*) override {}
    void serverDidStop(ZarvoServer*) override {}
    void reservedNotification(ZarvoServer*) override {}
    int shouldAdmitClient(ZarvoServer*, const ReceivedMessage*) override { return 1; }
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer*, const ReceivedMessage*) override {
        return nullptr;
    }
    void serverDidReceiveMessage(ZarvoServer*, ReceivedMessage) override {}
};

// Notes the arrival of every message the server hands on, under the sequence number that
// the benchmark put in it.
class TimingDelegate : public AdmittingDelegate {
  public:
    using SequenceOf = std::uint32_t (*)(const ReceivedMessage& message);

    TimingDelegate(SequenceArrivals& arrivals, SequenceOf sequenceOf)
        : arrivals_(arrivals), sequenceOf_(sequenceOf) {}

    void serverDidReceiveMessage(ZarvoServer*, ReceivedMessage message) override {
        arrivals_.arrived(sequenceOf_(message));
    }

  private:
    SequenceArrivals& arrivals_;
    const SequenceOf sequenceOf_;
};

}  // namespace pellvane::bench
