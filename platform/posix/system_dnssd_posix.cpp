#include "platform/system_dnssd.h"

namespace pellvane::sysdnssd {

// DNS-SD on Linux is Avahi's compatibility library, loaded as the DNS-SD library itself;
// the system offers nothing to fall back on.
std::unique_ptr<SystemDnssd> openSystemDnssd(const char*) {
    return nullptr;
}

}  // namespace pellvane::sysdnssd
