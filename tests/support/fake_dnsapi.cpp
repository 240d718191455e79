// A stand-in for the DNS-SD functions of Windows' dnsapi.dll, which Wine lacks. It announces
// nothing, but answers as Windows does: later, on a thread of its own, with copies of the
// service instance that the caller must free. Browsing finds this process's registrations,
// and resolving gives their host and port.
//
// It keeps a journal for the tests in the file that PELLVANE_FAKE_DNSAPI_LOG names, one line
// per event:
//   construct I name=N host=H port=P properties=C key='K' value='V'...
//   register I / registered I / deregister I / deregistered I / free I
//   copy I / free copy I   (an instance handed to a callback, and its release)
//   cancel browse / cancel resolve
//   fault: WHAT            (a use that Windows would punish: freeing too early, say)
// Ids start at 1 in each journal. With PELLVANE_FAKE_DNSAPI_SILENT_DEREGISTER set, a
// deregistration is never answered; PELLVANE_FAKE_DNSAPI_REGISTER_ERROR makes every
// registration fail with that status; PELLVANE_FAKE_DNSAPI_DELAY_MS sets how long each
// answer takes.
#include <windows.h>
// After windows.h, which it needs.
#include <windns.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/dnsapi_stand_in.h"

#define FAKE_DNSAPI_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr DWORD dnsRequestPending = 9506;
constexpr DWORD nameError = 9003;  // DNS_ERROR_RCODE_NAME_ERROR
constexpr auto usualAnswerDelay = std::chrono::milliseconds(20);

std::string utf8(const wchar_t* wide) {
    if (wide == nullptr) {
        return "(null)";
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back();
    return text;
}

wchar_t* copyOf(const wchar_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = wcslen(text) + 1;
    auto* copy = new wchar_t[length];
    wmemcpy(copy, text, length);
    return copy;
}

bool endsWithIgnoringCase(const std::wstring& text, const std::wstring& suffix) {
    return text.size() > suffix.size() &&
           _wcsicmp(text.c_str() + text.size() - suffix.size(), suffix.c_str()) == 0;
}

void journal(const std::string& line) {
    pellvane::testing::appendToDnsapiJournal(line);
}

// The system's thread: runs each answer a little after it was asked for, in order.
class AnswerThread {
  public:
    void post(std::function<void()> answer) {
        std::lock_guard guard(mutex_);
        if (!started_) {
            // Kept in memory for good: this thread outlives any FreeLibrary of the tests.
            HMODULE self = nullptr;
            GetModuleHandleExW(
                GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                reinterpret_cast<LPCWSTR>(&journal), &self);
            std::thread([this] { run(); }).detach();
            started_ = true;
        }
        queue_.push_back(std::move(answer));
        changed_.notify_one();
    }

  private:
    void run() {
        for (;;) {
            std::function<void()> answer;
            {
                std::unique_lock guard(mutex_);
                changed_.wait(guard, [this] { return !queue_.empty(); });
                answer = std::move(queue_.front());
                queue_.pop_front();
            }
            std::this_thread::sleep_for(pellvane::testing::dnsapiAnswerDelay(usualAnswerDelay));
            answer();
        }
    }

    std::mutex mutex_;  // guards queue_ and started_
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool started_ = false;
};

AnswerThread& answers() {
    static auto* thread = new AnswerThread;  // never destroyed: its thread never ends
    return *thread;
}

// What the fake knows of each instance it constructed. Ids start at 1 in each journal, so
// that a test reads the same ids whatever ran before it in the process.
struct Instance {
    int id = 0;
    PDNS_SERVICE_REGISTER_REQUEST request = nullptr;  // while registered
    bool withdrawing = false;                         // deregistration asked for, not yet answered
};

std::mutex stateMutex;                                // guards the fields below
std::map<PDNS_SERVICE_INSTANCE, Instance> instances;  // constructed and not yet freed
std::map<PDNS_SERVICE_INSTANCE, int> copies;          // handed to callers, not yet freed
std::string journalInUse;
int lastId = 0;

int nextId() {
    const char* path = std::getenv("PELLVANE_FAKE_DNSAPI_LOG");
    const std::string current = path == nullptr ? "" : path;
    if (current != journalInUse) {
        journalInUse = current;
        lastId = 0;
    }
    return ++lastId;
}

PDNS_SERVICE_INSTANCE newInstance(PCWSTR name, PCWSTR host, WORD port, DWORD count, PCWSTR* keys,
                                  PCWSTR* values) {
    auto* instance = new DNS_SERVICE_INSTANCE{};
    instance->pszInstanceName = copyOf(name);
    instance->pszHostName = copyOf(host);
    instance->wPort = port;
    instance->dwPropertyCount = count;
    instance->keys = new PWSTR[count + 1]{};
    instance->values = new PWSTR[count + 1]{};
    for (DWORD i = 0; i < count; ++i) {
        instance->keys[i] = copyOf(keys[i]);
        instance->values[i] = copyOf(values[i]);
    }
    return instance;
}

void deleteInstance(PDNS_SERVICE_INSTANCE instance) {
    for (DWORD i = 0; i < instance->dwPropertyCount; ++i) {
        delete[] instance->keys[i];
        delete[] instance->values[i];
    }
    delete[] instance->keys;
    delete[] instance->values;
    delete[] instance->pszInstanceName;
    delete[] instance->pszHostName;
    delete instance;
}

// A copy for a callback, as Windows hands one over; the caller frees it. With stateMutex.
PDNS_SERVICE_INSTANCE copyForCaller(PDNS_SERVICE_INSTANCE original, int id) {
    PDNS_SERVICE_INSTANCE copy =
        newInstance(original->pszInstanceName, original->pszHostName, original->wPort,
                    original->dwPropertyCount, const_cast<PCWSTR*>(original->keys),
                    const_cast<PCWSTR*>(original->values));
    copies[copy] = id;
    journal("copy " + std::to_string(id));
    return copy;
}

// The registered instance of a request; null when the request registers nothing.
PDNS_SERVICE_INSTANCE registeredBy(PDNS_SERVICE_REGISTER_REQUEST request) {
    for (auto& [instance, known] : instances) {
        if (known.request == request) {
            return instance;
        }
    }
    return nullptr;
}

}  // namespace

FAKE_DNSAPI_EXPORT PDNS_SERVICE_INSTANCE WINAPI DnsServiceConstructInstance(
    PCWSTR pServiceName, PCWSTR pHostName, PIP4_ADDRESS, PIP6_ADDRESS, WORD wPort, WORD, WORD,
    DWORD dwPropertiesCount, PCWSTR* keys, PCWSTR* values) {
    if (pServiceName == nullptr || pHostName == nullptr ||
        (dwPropertiesCount > 0 && (keys == nullptr || values == nullptr))) {
        return nullptr;
    }
    PDNS_SERVICE_INSTANCE instance =
        newInstance(pServiceName, pHostName, wPort, dwPropertiesCount, keys, values);
    std::string line;
    {
        std::lock_guard guard(stateMutex);
        const int id = nextId();
        instances[instance] = Instance{id};
        line = "construct " + std::to_string(id);
    }
    line += " name=" + utf8(pServiceName) + " host=" + utf8(pHostName) +
            " port=" + std::to_string(wPort) + " properties=" + std::to_string(dwPropertiesCount);
    for (DWORD i = 0; i < dwPropertiesCount; ++i) {
        line += " key='" + utf8(keys[i]) + "' value='" + utf8(values[i]) + "'";
    }
    journal(line);
    return instance;
}

FAKE_DNSAPI_EXPORT VOID WINAPI DnsServiceFreeInstance(PDNS_SERVICE_INSTANCE pInstance) {
    if (pInstance == nullptr) {
        return;
    }
    std::string line;
    bool release = true;
    {
        std::lock_guard guard(stateMutex);
        if (auto copy = copies.find(pInstance); copy != copies.end()) {
            line = "free copy " + std::to_string(copy->second);
            copies.erase(copy);
        } else if (auto own = instances.find(pInstance); own != instances.end()) {
            const std::string id = std::to_string(own->second.id);
            if (own->second.request != nullptr) {
                // Kept, so that the reads that Windows would still make stay defined here.
                line = "fault: instance " + id + " freed while registered";
                release = false;
            } else {
                line = "free " + id;
            }
            instances.erase(own);
        } else {
            line = "fault: unknown instance freed";
            release = false;
        }
    }
    journal(line);
    if (release) {
        deleteInstance(pInstance);
    }
}

FAKE_DNSAPI_EXPORT DWORD WINAPI DnsServiceRegister(PDNS_SERVICE_REGISTER_REQUEST pRequest,
                                                   PDNS_SERVICE_CANCEL) {
    if (pRequest == nullptr || pRequest->Version != DNS_QUERY_REQUEST_VERSION1 ||
        pRequest->pRegisterCompletionCallback == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const PDNS_SERVICE_INSTANCE instance = pRequest->pServiceInstance;
    int id = 0;
    {
        std::lock_guard guard(stateMutex);
        auto known = instances.find(instance);
        if (known == instances.end() || known->second.request != nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        known->second.request = pRequest;
        id = known->second.id;
    }
    journal("register " + std::to_string(id));
    const char* error = std::getenv("PELLVANE_FAKE_DNSAPI_REGISTER_ERROR");
    const DWORD outcome = error == nullptr ? ERROR_SUCCESS : std::strtoul(error, nullptr, 10);
    // Windows reads the request when it answers: it must still be there.
    answers().post([pRequest, instance, id, outcome] {
        PDNS_SERVICE_INSTANCE copy = nullptr;
        {
            std::lock_guard guard(stateMutex);
            if (instances.count(instance) == 0) {
                journal("fault: instance " + std::to_string(id) + " gone before registered");
                return;
            }
            if (outcome == ERROR_SUCCESS) {
                copy = copyForCaller(instance, id);
            }
        }
        if (outcome == ERROR_SUCCESS) {
            journal("registered " + std::to_string(id));
        }
        pRequest->pRegisterCompletionCallback(outcome, pRequest->pQueryContext, copy);
    });
    return dnsRequestPending;
}

FAKE_DNSAPI_EXPORT DWORD WINAPI DnsServiceDeRegister(PDNS_SERVICE_REGISTER_REQUEST pRequest,
                                                     PDNS_SERVICE_CANCEL) {
    PDNS_SERVICE_INSTANCE instance = nullptr;
    int id = 0;
    {
        std::lock_guard guard(stateMutex);
        instance = registeredBy(pRequest);
        if (instance == nullptr || instances[instance].withdrawing) {
            return ERROR_INVALID_PARAMETER;
        }
        instances[instance].withdrawing = true;
        id = instances[instance].id;
    }
    journal("deregister " + std::to_string(id));
    if (std::getenv("PELLVANE_FAKE_DNSAPI_SILENT_DEREGISTER") != nullptr) {
        return dnsRequestPending;
    }
    answers().post([pRequest, instance, id] {
        PDNS_SERVICE_INSTANCE copy = nullptr;
        {
            std::lock_guard guard(stateMutex);
            // Newer Windows reads the instance while withdrawing it.
            auto known = instances.find(instance);
            if (known == instances.end()) {
                journal("fault: instance " + std::to_string(id) + " gone before deregistered");
            } else {
                known->second.request = nullptr;
                known->second.withdrawing = false;
                copy = copyForCaller(instance, id);
                journal("deregistered " + std::to_string(id));
            }
        }
        pRequest->pRegisterCompletionCallback(ERROR_SUCCESS, pRequest->pQueryContext, copy);
    });
    return dnsRequestPending;
}

namespace {

// PTR records of the registered instances of one type, as one list that DnsFree releases.
PDNS_RECORD registeredOfType(const std::wstring& type) {
    PDNS_RECORD first = nullptr;
    PDNS_RECORD* next = &first;
    std::lock_guard guard(stateMutex);
    for (const auto& [instance, known] : instances) {
        const std::wstring name = instance->pszInstanceName;
        if (known.request == nullptr || known.withdrawing ||
            !endsWithIgnoringCase(name, L"." + type)) {
            continue;
        }
        auto* record = new DNS_RECORDW{};
        record->pName = copyOf(type.c_str());
        record->wType = DNS_TYPE_PTR;
        record->dwTtl = 120;
        record->Data.PTR.pNameHost = copyOf(name.c_str());
        *next = record;
        next = &record->pNext;
    }
    return first;
}

PDNS_SERVICE_INSTANCE registeredNamed(const std::wstring& name) {
    std::lock_guard guard(stateMutex);
    for (const auto& [instance, known] : instances) {
        if (known.request != nullptr && !known.withdrawing &&
            _wcsicmp(instance->pszInstanceName, name.c_str()) == 0) {
            return copyForCaller(instance, known.id);
        }
    }
    return nullptr;
}

}  // namespace

FAKE_DNSAPI_EXPORT DNS_STATUS WINAPI DnsServiceBrowse(PDNS_SERVICE_BROWSE_REQUEST pRequest,
                                                      PDNS_SERVICE_CANCEL pCancel) {
    if (pRequest == nullptr || pRequest->Version != DNS_QUERY_REQUEST_VERSION1 ||
        pRequest->QueryName == nullptr || pRequest->pBrowseCallback == nullptr ||
        pCancel == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    pCancel->reserved = pRequest;
    const std::wstring type = pRequest->QueryName;
    answers().post([pRequest, type] {
        if (PDNS_RECORD records = registeredOfType(type)) {
            pRequest->pBrowseCallback(ERROR_SUCCESS, pRequest->pQueryContext, records);
        }
    });
    return dnsRequestPending;
}

FAKE_DNSAPI_EXPORT DNS_STATUS WINAPI DnsServiceBrowseCancel(PDNS_SERVICE_CANCEL pCancelHandle) {
    if (pCancelHandle == nullptr || pCancelHandle->reserved == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    auto* request = static_cast<PDNS_SERVICE_BROWSE_REQUEST>(pCancelHandle->reserved);
    pCancelHandle->reserved = nullptr;
    journal("cancel browse");
    answers().post(
        [request] { request->pBrowseCallback(ERROR_CANCELLED, request->pQueryContext, nullptr); });
    return ERROR_SUCCESS;
}

FAKE_DNSAPI_EXPORT DNS_STATUS WINAPI DnsServiceResolve(PDNS_SERVICE_RESOLVE_REQUEST pRequest,
                                                       PDNS_SERVICE_CANCEL) {
    if (pRequest == nullptr || pRequest->Version != DNS_QUERY_REQUEST_VERSION1 ||
        pRequest->QueryName == nullptr || pRequest->pResolveCompletionCallback == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring name = pRequest->QueryName;
    answers().post([pRequest, name] {
        PDNS_SERVICE_INSTANCE found = registeredNamed(name);
        pRequest->pResolveCompletionCallback(found != nullptr ? ERROR_SUCCESS : nameError,
                                             pRequest->pQueryContext, found);
    });
    return dnsRequestPending;
}

FAKE_DNSAPI_EXPORT DNS_STATUS WINAPI DnsServiceResolveCancel(PDNS_SERVICE_CANCEL) {
    journal("cancel resolve");
    return ERROR_SUCCESS;  // every resolve here answers all the same
}

FAKE_DNSAPI_EXPORT VOID WINAPI DnsFree(PVOID pData, DNS_FREE_TYPE FreeType) {
    if (pData == nullptr || FreeType != DnsFreeRecordList) {
        return;
    }
    for (auto* record = static_cast<PDNS_RECORD>(pData); record != nullptr;) {
        PDNS_RECORD next = record->pNext;
        delete[] record->pName;
        delete[] record->Data.PTR.pNameHost;
        delete record;
        record = next;
    }
}
