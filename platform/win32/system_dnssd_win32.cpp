// Windows' own DNS-SD functions in dnsapi.dll (Windows 10 1903 and later), looked up at run
// time: older Windows and Wine lack them, and the program must start there all the same.
#include <windows.h>
// After windows.h, which it needs.
#include <windns.h>

#include <string>

#include "platform/dynamic_library.h"
#include "platform/system_dnssd.h"

namespace pellvane::sysdnssd {
namespace {

// What the asynchronous calls answer when they took the request (winerror.h has no name
// for it in mingw-w64).
constexpr DWORD dnsRequestPending = 9506;

// The functions, typed from windns.h's declarations. Every request holds this table, so a
// request that was never released (see the fallback's bounded waits) keeps the library
// loaded for as long as the system may still call back into it.
struct Dnsapi {
    dynlib::LibraryHandle library = nullptr;
    decltype(&DnsServiceConstructInstance) constructInstance = nullptr;
    decltype(&DnsServiceFreeInstance) freeInstance = nullptr;
    decltype(&DnsServiceRegister) registerService = nullptr;
    decltype(&DnsServiceDeRegister) deregisterService = nullptr;
    decltype(&DnsServiceBrowse) browse = nullptr;
    decltype(&DnsServiceBrowseCancel) browseCancel = nullptr;
    decltype(&DnsServiceResolve) resolve = nullptr;
    decltype(&DnsServiceResolveCancel) resolveCancel = nullptr;
    decltype(&DnsFree) freeRecords = nullptr;

    Dnsapi() = default;
    Dnsapi(const Dnsapi&) = delete;
    Dnsapi& operator=(const Dnsapi&) = delete;
    ~Dnsapi() {
        if (library != nullptr) {
            dynlib::close(library);
        }
    }

    bool canRegister() const {
        return constructInstance != nullptr && freeInstance != nullptr &&
               registerService != nullptr && deregisterService != nullptr;
    }
    bool canBrowse() const {
        return browse != nullptr && browseCancel != nullptr && resolve != nullptr &&
               resolveCancel != nullptr && freeInstance != nullptr && freeRecords != nullptr;
    }
};

template <class Function>
void lookUp(const Dnsapi& api, Function& function, const char* name) {
    function = reinterpret_cast<Function>(dynlib::findSymbol(api.library, name));
}

// The system's own library comes from the system folder only, so that a dnsapi.dll placed
// beside the program cannot stand in for it; a test names its own.
dynlib::LibraryHandle loadDnsapi(const char* libraryName) {
    if (libraryName != nullptr) {
        return dynlib::open(libraryName);
    }
    return ::LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::wstring wideFromText(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    // Names are UTF-8; a host name read with gethostname may be in the ANSI code page.
    UINT codePage = CP_UTF8;
    int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                       static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        codePage = CP_ACP;
        length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0);
    }
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

// Text from the network: ill-formed UTF-16 becomes U+FFFD rather than failing.
std::string utf8FromWide(const wchar_t* wide) {
    if (wide == nullptr || wide[0] == L'\0') {
        return {};
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back();  // the terminating zero
    return text;
}

class DnsapiRegistration final : public SystemDnssd::Registration {
  public:
    DnsapiRegistration(std::shared_ptr<const Dnsapi> api, RegistrationDone done, void* context)
        : api_(std::move(api)), done_(done), context_(context) {}
    ~DnsapiRegistration() override {
        if (instance_ != nullptr) {
            api_->freeInstance(instance_);
        }
    }

    bool start(const ServiceInstance& service) {
        const std::wstring name = wideFromText(service.instanceName);
        const std::wstring host = wideFromText(service.hostName);
        // One empty key and value: an announcement without TXT strings gets an answer that
        // Apple's resolvers reject.
        PCWSTR keys[] = {L""};
        PCWSTR values[] = {L""};
        instance_ = api_->constructInstance(name.c_str(), host.c_str(), nullptr, nullptr,
                                            service.port, 0, 0, 1, keys, values);
        if (instance_ == nullptr) {
            return false;
        }
        request_.Version = DNS_QUERY_REQUEST_VERSION1;
        request_.InterfaceIndex = 0;
        request_.pServiceInstance = instance_;
        request_.pRegisterCompletionCallback = &DnsapiRegistration::completed;
        request_.pQueryContext = this;
        request_.hCredentials = nullptr;
        request_.unicastEnabled = FALSE;
        return api_->registerService(&request_, nullptr) == dnsRequestPending;
    }

    bool deregister() override {
        return api_->deregisterService(&request_, nullptr) == dnsRequestPending;
    }

  private:
    static VOID WINAPI completed(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE copy) {
        auto* self = static_cast<DnsapiRegistration*>(context);
        if (copy != nullptr) {
            self->api_->freeInstance(copy);  // the system's copy is ours to free
        }
        // The owner may free this registration as soon as it hears of the deregistration's
        // end: nothing of it is touched after this call.
        self->done_(self->context_, status);
    }

    std::shared_ptr<const Dnsapi> api_;
    RegistrationDone done_;
    void* context_;
    PDNS_SERVICE_INSTANCE instance_ = nullptr;
    DNS_SERVICE_REGISTER_REQUEST request_{};
};

class DnsapiBrowse final : public SystemDnssd::Query {
  public:
    DnsapiBrowse(std::shared_ptr<const Dnsapi> api, BrowseDone done, void* context)
        : api_(std::move(api)), done_(done), context_(context) {}

    bool start(const std::string& serviceType) {
        queryName_ = wideFromText(serviceType);
        request_.Version = DNS_QUERY_REQUEST_VERSION1;
        request_.InterfaceIndex = 0;
        request_.QueryName = queryName_.c_str();
        request_.pBrowseCallback = &DnsapiBrowse::answered;
        request_.pQueryContext = this;
        return api_->browse(&request_, &cancel_) == dnsRequestPending;
    }

    bool cancel() override { return api_->browseCancel(&cancel_) == ERROR_SUCCESS; }

  private:
    static VOID WINAPI answered(DWORD status, PVOID context, PDNS_RECORD records) {
        auto* self = static_cast<DnsapiBrowse*>(context);
        std::vector<BrowseAnswer> answers;
        for (PDNS_RECORD record = records; record != nullptr; record = record->pNext) {
            if (record->wType == DNS_TYPE_PTR && record->Data.PTR.pNameHost != nullptr) {
                // A time to live of 0 is the announcement of a service that goes away.
                answers.push_back({utf8FromWide(record->Data.PTR.pNameHost), record->dwTtl == 0});
            }
        }
        if (records != nullptr) {
            self->api_->freeRecords(records, DnsFreeRecordList);
        }
        self->done_(self->context_, status, std::move(answers));
    }

    std::shared_ptr<const Dnsapi> api_;
    BrowseDone done_;
    void* context_;
    std::wstring queryName_;
    DNS_SERVICE_BROWSE_REQUEST request_{};
    DNS_SERVICE_CANCEL cancel_{};
};

class DnsapiResolve final : public SystemDnssd::Query {
  public:
    DnsapiResolve(std::shared_ptr<const Dnsapi> api, ResolveDone done, void* context)
        : api_(std::move(api)), done_(done), context_(context) {}

    bool start(const std::string& instanceName) {
        queryName_ = wideFromText(instanceName);
        request_.Version = DNS_QUERY_REQUEST_VERSION1;
        request_.InterfaceIndex = 0;
        request_.QueryName = queryName_.data();
        request_.pResolveCompletionCallback = &DnsapiResolve::answered;
        request_.pQueryContext = this;
        return api_->resolve(&request_, &cancel_) == dnsRequestPending;
    }

    bool cancel() override { return api_->resolveCancel(&cancel_) == ERROR_SUCCESS; }

  private:
    static VOID WINAPI answered(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
        auto* self = static_cast<DnsapiResolve*>(context);
        ServiceInstance found;
        const bool answered = status == ERROR_SUCCESS && instance != nullptr;
        if (answered) {
            found.instanceName = utf8FromWide(instance->pszInstanceName);
            found.hostName = utf8FromWide(instance->pszHostName);
            found.port = instance->wPort;
        }
        if (instance != nullptr) {
            self->api_->freeInstance(instance);
        }
        self->done_(self->context_, answered ? succeeded : status, answered ? &found : nullptr);
    }

    std::shared_ptr<const Dnsapi> api_;
    ResolveDone done_;
    void* context_;
    std::wstring queryName_;
    DNS_SERVICE_RESOLVE_REQUEST request_{};
    DNS_SERVICE_CANCEL cancel_{};
};

class DnsapiService final : public SystemDnssd {
  public:
    explicit DnsapiService(std::shared_ptr<const Dnsapi> api) : api_(std::move(api)) {}

    bool canRegister() const override { return api_->canRegister(); }
    bool canBrowse() const override { return api_->canBrowse(); }

    std::unique_ptr<Registration> startRegistration(const ServiceInstance& instance,
                                                    RegistrationDone done, void* context) override {
        if (!canRegister()) {
            return nullptr;
        }
        auto registration = std::make_unique<DnsapiRegistration>(api_, done, context);
        return registration->start(instance) ? std::move(registration) : nullptr;
    }

    std::unique_ptr<Query> startBrowse(const std::string& serviceType, BrowseDone done,
                                       void* context) override {
        if (!canBrowse()) {
            return nullptr;
        }
        auto browse = std::make_unique<DnsapiBrowse>(api_, done, context);
        return browse->start(serviceType) ? std::move(browse) : nullptr;
    }

    std::unique_ptr<Query> startResolve(const std::string& instanceName, ResolveDone done,
                                        void* context) override {
        if (!canBrowse()) {
            return nullptr;
        }
        auto resolve = std::make_unique<DnsapiResolve>(api_, done, context);
        return resolve->start(instanceName) ? std::move(resolve) : nullptr;
    }

  private:
    std::shared_ptr<const Dnsapi> api_;
};

}  // namespace

std::unique_ptr<SystemDnssd> openSystemDnssd(const char* libraryName) {
    auto api = std::make_shared<Dnsapi>();
    api->library = loadDnsapi(libraryName);
    if (api->library == nullptr) {
        return nullptr;
    }
    lookUp(*api, api->constructInstance, "DnsServiceConstructInstance");
    lookUp(*api, api->freeInstance, "DnsServiceFreeInstance");
    lookUp(*api, api->registerService, "DnsServiceRegister");
    lookUp(*api, api->deregisterService, "DnsServiceDeRegister");
    lookUp(*api, api->browse, "DnsServiceBrowse");
    lookUp(*api, api->browseCancel, "DnsServiceBrowseCancel");
    lookUp(*api, api->resolve, "DnsServiceResolve");
    lookUp(*api, api->resolveCancel, "DnsServiceResolveCancel");
    lookUp(*api, api->freeRecords, "DnsFree");
    if (!api->canRegister() && !api->canBrowse()) {
        return nullptr;
    }
    return std::make_unique<DnsapiService>(std::move(api));
}

}  // namespace pellvane::sysdnssd
