// The operating system's own DNS-SD service, where it has one: Windows 10 1903 and later
// register, browse and resolve services through dnsapi.dll. Every request reports later, on
// a thread of the system's, through the function it was started with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pellvane::sysdnssd {

// A request's outcome: `succeeded`, or the system's error code.
using Status = std::uint32_t;
inline constexpr Status succeeded = 0;
// The last outcome of a cancelled browse or resolve.
inline constexpr Status cancelled = 1223;

// A service as the system announces or resolves it. Names are UTF-8.
struct ServiceInstance {
    std::string instanceName;  // "NAME._kesp._tcp.local"
    std::string hostName;      // "HOST.local"
    std::uint16_t port = 0;    // host order
};

// One instance name that a browse heard of; `gone` when its announcement was withdrawn.
struct BrowseAnswer {
    std::string instanceName;
    bool gone = false;
};

// Called on a thread of the system's. `context` is what the request was started with.
using RegistrationDone = void (*)(void* context, Status status);
using BrowseDone = void (*)(void* context, Status status, std::vector<BrowseAnswer> answers);
// `instance` is null unless `status` is `succeeded`.
using ResolveDone = void (*)(void* context, Status status, const ServiceInstance* instance);

class SystemDnssd {
  public:
    // A registration: the system's request and its service instance. The system reads both
    // until it has reported the end of the deregistration; destroying it frees them.
    class Registration {
      public:
        virtual ~Registration() = default;
        // Asks for the service to be withdrawn; true when the system took the request, and
        // then the registration's function runs once more when it is done.
        virtual bool deregister() = 0;
    };

    // A running browse or resolve. The system may call its function until it has reported
    // the end of a cancel (or, for a resolve, its answer); destroying it frees the request.
    class Query {
      public:
        virtual ~Query() = default;
        // True when the system took the cancel; a browse then reports `cancelled` once more.
        virtual bool cancel() = 0;
    };

    virtual ~SystemDnssd() = default;

    virtual bool canRegister() const = 0;
    virtual bool canBrowse() const = 0;

    // Starts announcing `instance` (with one empty TXT key and value); `done` reports the
    // outcome. Null when the system refused at once.
    virtual std::unique_ptr<Registration> startRegistration(const ServiceInstance& instance,
                                                            RegistrationDone done,
                                                            void* context) = 0;
    // `serviceType` as "_kesp._tcp.local"; `done` runs for every group of answers.
    virtual std::unique_ptr<Query> startBrowse(const std::string& serviceType, BrowseDone done,
                                               void* context) = 0;
    // `instanceName` as "NAME._kesp._tcp.local"; `done` runs once with the answer.
    virtual std::unique_ptr<Query> startResolve(const std::string& instanceName, ResolveDone done,
                                                void* context) = 0;
};

// The system's DNS-SD service through `libraryName` (its own library unless a test names
// another); null where the system has none, or lacks the functions for both registering
// and browsing.
std::unique_ptr<SystemDnssd> openSystemDnssd(const char* libraryName = nullptr);

}  // namespace pellvane::sysdnssd
