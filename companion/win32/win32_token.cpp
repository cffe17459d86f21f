#include "companion/win32/win32_token.h"

#include <wincrypt.h>
#include <winscard.h>

#include <cstdio>
#include <string>

#include "platform/win32/system_library.h"

namespace qtk::companion::win32 {
namespace {

// SERVICE_TRIGGER_INFO and SERVICE_TRIGGER as winsvc.h documents them; older MinGW
// headers lack the types.
struct Trigger {
    DWORD type;
    DWORD action;
    GUID* subtype;
    DWORD data_items;
    void* data;
};
struct TriggerInfo {
    DWORD count;
    Trigger* triggers;
    BYTE* reserved;
};
constexpr DWORD kTriggerActionStart = 1;  // SERVICE_TRIGGER_ACTION_SERVICE_START
constexpr DWORD kConfigTriggerInfo = 8;       // SERVICE_CONFIG_TRIGGER_INFO
constexpr DWORD kConfigDelayedAutoStart = 3;  // SERVICE_CONFIG_DELAYED_AUTO_START_INFO

struct ServiceHandle {
    SC_HANDLE handle = nullptr;
    explicit ServiceHandle(SC_HANDLE h) : handle(h) {}
    ~ServiceHandle() {
        if (handle != nullptr) CloseServiceHandle(handle);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
};


using qtk::win32::LoadSystemLibrary;

ServiceState ToState(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED: return ServiceState::Stopped;
        case SERVICE_START_PENDING: return ServiceState::StartPending;
        case SERVICE_STOP_PENDING: return ServiceState::StopPending;
        case SERVICE_RUNNING: return ServiceState::Running;
        case SERVICE_CONTINUE_PENDING: return ServiceState::ContinuePending;
        case SERVICE_PAUSE_PENDING: return ServiceState::PausePending;
        case SERVICE_PAUSED: return ServiceState::Paused;
        default: return ServiceState::Unknown;
    }
}

StartType ToStart(DWORD start) {
    switch (start) {
        case SERVICE_BOOT_START: return StartType::Boot;
        case SERVICE_SYSTEM_START: return StartType::System;
        case SERVICE_AUTO_START: return StartType::Automatic;
        case SERVICE_DEMAND_START: return StartType::Manual;
        case SERVICE_DISABLED: return StartType::Disabled;
        default: return StartType::Unknown;
    }
}

std::wstring Expand(const wchar_t* text) {
    if (text == nullptr) return L"";
    const DWORD size = ExpandEnvironmentStringsW(text, nullptr, 0);
    if (size == 0) return text;
    std::wstring expanded(size, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text, expanded.data(), size);
    if (written == 0 || written > size) return text;
    expanded.resize(written - 1);
    return expanded;
}

// QueryServiceConfig2W into a buffer of the size it asks for; empty when the level is not
// supported (older systems, Wine) or the call fails.
std::vector<BYTE> QueryConfig2(SC_HANDLE service, DWORD level) {
    DWORD needed = 0;
    QueryServiceConfig2W(service, level, nullptr, 0, &needed);
    if (needed == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::vector<BYTE> buffer(needed);
    if (!QueryServiceConfig2W(service, level, buffer.data(), needed, &needed)) return {};
    return buffer;
}

ServiceFacts QueryOpened(SC_HANDLE service, std::wstring name) {
    ServiceFacts facts;
    facts.name = std::move(name);
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed)) {
        facts.error = GetLastError();
        return facts;
    }
    facts.state = ToState(status.dwCurrentState);
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        facts.error = GetLastError();
        return facts;
    }
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, needed, &needed)) {
        facts.error = GetLastError();
        return facts;
    }
    facts.start_type = ToStart(config->dwStartType);
    if (config->lpDisplayName != nullptr) facts.display_name = config->lpDisplayName;
    facts.program = Expand(config->lpBinaryPathName);
    const std::vector<BYTE> delayed = QueryConfig2(service, kConfigDelayedAutoStart);
    if (delayed.size() >= sizeof(SERVICE_DELAYED_AUTO_START_INFO)) {
        facts.delayed_start =
            reinterpret_cast<const SERVICE_DELAYED_AUTO_START_INFO*>(delayed.data())
                ->fDelayedAutostart != FALSE;
    }
    const std::vector<BYTE> triggers = QueryConfig2(service, kConfigTriggerInfo);
    // A trigger may as well stop the service; only one that starts it makes it start.
    if (triggers.size() >= sizeof(TriggerInfo)) {
        const auto* info = reinterpret_cast<const TriggerInfo*>(triggers.data());
        for (DWORD i = 0; info->triggers != nullptr && i < info->count; ++i) {
            if (info->triggers[i].action == kTriggerActionStart) facts.trigger_start = true;
        }
    }
    return facts;
}

// FILETIME (100 ns since 1601) to seconds since 1970.
std::int64_t UnixSeconds(const FILETIME& time) {
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (ticks - 116444736000000000LL) / 10000000LL;
}

}  // namespace

// crypt32's entry points, resolved once.
struct Win32TokenSystem::Crypt {
    decltype(&CertOpenStore) open_store;
    decltype(&CertCloseStore) close_store;
    decltype(&CertEnumCertificatesInStore) enumerate;
    decltype(&CertDuplicateCertificateContext) duplicate;
    decltype(&CertFreeCertificateContext) free_context;
    decltype(&CertGetCertificateContextProperty) get_property;
    decltype(&CertGetEnhancedKeyUsage) get_usage;
    decltype(&CertNameToStrW) name_to_string;
    decltype(&CryptHashCertificate) hash;
    decltype(&CertGetCertificateChain) get_chain;
    decltype(&CertVerifyCertificateChainPolicy) verify_policy;
    decltype(&CertFreeCertificateChain) free_chain;
};

Win32TokenSystem::Win32TokenSystem() = default;

Win32TokenSystem::~Win32TokenSystem() {
    if (crypt_) {
        for (const void* context : contexts_) {
            crypt_->free_context(static_cast<PCCERT_CONTEXT>(context));
        }
    }
    if (crypt32_ != nullptr) FreeLibrary(crypt32_);
}

bool Win32TokenSystem::LoadCrypt() {
    if (crypt_) return true;
    if (crypt_error_ != 0) return false;
    crypt32_ = LoadSystemLibrary(L"crypt32.dll");
    if (crypt32_ == nullptr) {
        crypt_error_ = GetLastError();
        return false;
    }
    auto crypt = std::make_unique<Crypt>();
    crypt->open_store = qtk::win32::FindExport<decltype(crypt->open_store)>(crypt32_, "CertOpenStore");
    crypt->close_store = qtk::win32::FindExport<decltype(crypt->close_store)>(crypt32_, "CertCloseStore");
    crypt->enumerate = qtk::win32::FindExport<decltype(crypt->enumerate)>(crypt32_, "CertEnumCertificatesInStore");
    crypt->duplicate =
        qtk::win32::FindExport<decltype(crypt->duplicate)>(crypt32_, "CertDuplicateCertificateContext");
    crypt->free_context =
        qtk::win32::FindExport<decltype(crypt->free_context)>(crypt32_, "CertFreeCertificateContext");
    crypt->get_property =
        qtk::win32::FindExport<decltype(crypt->get_property)>(crypt32_, "CertGetCertificateContextProperty");
    crypt->get_usage = qtk::win32::FindExport<decltype(crypt->get_usage)>(crypt32_, "CertGetEnhancedKeyUsage");
    crypt->name_to_string = qtk::win32::FindExport<decltype(crypt->name_to_string)>(crypt32_, "CertNameToStrW");
    crypt->hash = qtk::win32::FindExport<decltype(crypt->hash)>(crypt32_, "CryptHashCertificate");
    crypt->get_chain = qtk::win32::FindExport<decltype(crypt->get_chain)>(crypt32_, "CertGetCertificateChain");
    crypt->verify_policy =
        qtk::win32::FindExport<decltype(crypt->verify_policy)>(crypt32_, "CertVerifyCertificateChainPolicy");
    crypt->free_chain = qtk::win32::FindExport<decltype(crypt->free_chain)>(crypt32_, "CertFreeCertificateChain");
    const bool complete = crypt->open_store && crypt->close_store && crypt->enumerate &&
                          crypt->duplicate && crypt->free_context && crypt->get_property &&
                          crypt->get_usage && crypt->name_to_string && crypt->hash &&
                          crypt->get_chain && crypt->verify_policy && crypt->free_chain;
    if (!complete) {
        crypt_error_ = ERROR_PROC_NOT_FOUND;
        FreeLibrary(crypt32_);
        crypt32_ = nullptr;
        return false;
    }
    crypt_ = std::move(crypt);
    return true;
}

ServiceFacts Win32TokenSystem::QueryService(std::wstring_view name) {
    ServiceFacts facts;
    facts.name = std::wstring(name);
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.handle == nullptr) {
        facts.error = GetLastError();
        return facts;
    }
    const ServiceHandle service(OpenServiceW(manager.handle, facts.name.c_str(),
                                             SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (service.handle == nullptr) {
        facts.error = GetLastError();
        return facts;
    }
    return QueryOpened(service.handle, facts.name);
}

ServiceList Win32TokenSystem::ListServices() {
    ServiceList list;
    const ServiceHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
    if (manager.handle == nullptr) {
        list.error = GetLastError();
        return list;
    }
    std::vector<BYTE> buffer(64 * 1024);
    DWORD resume = 0;
    for (;;) {
        DWORD needed = 0;
        DWORD returned = 0;
        const BOOL done = EnumServicesStatusExW(
            manager.handle, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
            static_cast<DWORD>(buffer.size()), &needed, &returned, &resume, nullptr);
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
            list.error = error;
            return list;
        }
        const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i) {
            const ServiceHandle service(OpenServiceW(manager.handle, entries[i].lpServiceName,
                                                     SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
            if (service.handle == nullptr) {
                ServiceFacts facts;
                facts.name = entries[i].lpServiceName;
                facts.error = GetLastError();
                list.services.push_back(std::move(facts));
                continue;
            }
            list.services.push_back(QueryOpened(service.handle, entries[i].lpServiceName));
        }
        if (done) return list;
        // Nothing returned and more data: one entry is larger than the buffer.
        if (returned == 0) {
            if (needed <= buffer.size() || needed > 16 * 1024 * 1024) {
                list.error = ERROR_MORE_DATA;
                return list;
            }
            buffer.resize(needed);
        }
    }
}

ReaderSurvey Win32TokenSystem::SurveyReaders() {
    ReaderSurvey survey;
    HMODULE winscard = LoadSystemLibrary(L"winscard.dll");
    if (winscard == nullptr) {
        survey.failed_at = ReaderStep::Load;
        survey.code = GetLastError();
        return survey;
    }
    const auto establish =
        qtk::win32::FindExport<decltype(&SCardEstablishContext)>(winscard, "SCardEstablishContext");
    const auto release = qtk::win32::FindExport<decltype(&SCardReleaseContext)>(winscard, "SCardReleaseContext");
    const auto list = qtk::win32::FindExport<decltype(&SCardListReadersW)>(winscard, "SCardListReadersW");
    const auto status = qtk::win32::FindExport<decltype(&SCardGetStatusChangeW)>(winscard, "SCardGetStatusChangeW");
    if (establish == nullptr || release == nullptr || list == nullptr || status == nullptr) {
        survey.failed_at = ReaderStep::Load;
        survey.code = ERROR_PROC_NOT_FOUND;
        FreeLibrary(winscard);
        return survey;
    }
    SCARDCONTEXT context = 0;
    LONG result = establish(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    if (result != SCARD_S_SUCCESS) {
        survey.failed_at = ReaderStep::Establish;
        survey.code = static_cast<std::uint32_t>(result);
        FreeLibrary(winscard);
        return survey;
    }
    // Readers come and go; a list that grew between the two calls is asked for again.
    std::vector<wchar_t> names;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD length = 0;
        result = list(context, nullptr, nullptr, &length);
        if (result != SCARD_S_SUCCESS || length == 0) break;
        names.assign(length + 1, L'\0');
        result = list(context, nullptr, names.data(), &length);
        if (result != static_cast<LONG>(SCARD_E_INSUFFICIENT_BUFFER)) break;
    }
    if (result != SCARD_S_SUCCESS) {
        survey.failed_at = ReaderStep::List;
        survey.code = static_cast<std::uint32_t>(result);
    } else {
        // A multi-string: names separated by NULs, ended by an empty one.
        for (const wchar_t* name = names.data(); !names.empty() && *name != L'\0';
             name += wcslen(name) + 1) {
            survey.readers.push_back(ReaderFacts{name, 0, {}});
        }
        std::vector<SCARD_READERSTATEW> states(survey.readers.size());
        for (std::size_t i = 0; i < states.size(); ++i) {
            states[i].szReader = survey.readers[i].name.c_str();
            states[i].dwCurrentState = SCARD_STATE_UNAWARE;
        }
        if (!states.empty()) {
            result = status(context, 0, states.data(), static_cast<DWORD>(states.size()));
            if (result != SCARD_S_SUCCESS) {
                survey.failed_at = ReaderStep::Status;
                survey.code = static_cast<std::uint32_t>(result);
            } else {
                for (std::size_t i = 0; i < states.size(); ++i) {
                    survey.readers[i].event_state = states[i].dwEventState;
                    const DWORD size = states[i].cbAtr <= sizeof states[i].rgbAtr
                                           ? states[i].cbAtr
                                           : static_cast<DWORD>(sizeof states[i].rgbAtr);
                    survey.readers[i].atr.assign(states[i].rgbAtr, states[i].rgbAtr + size);
                }
            }
        }
    }
    release(context);
    FreeLibrary(winscard);
    return survey;
}

CertificateSurvey Win32TokenSystem::PersonalCertificates(const std::wstring& user_sid) {
    CertificateSurvey survey;
    if (!LoadCrypt()) {
        survey.open_error = crypt_error_;
        return survey;
    }
    const Crypt& c = *crypt_;
    // Another user's store is theirs by SID in the users' location ("<SID>\MY"): the same
    // registry and roaming-profile stores their own session opens as the current user's.
    const bool own = user_sid.empty();
    const std::wstring store_name = own ? std::wstring(L"MY") : user_sid + L"\\MY";
    HCERTSTORE store = c.open_store(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        (own ? CERT_SYSTEM_STORE_CURRENT_USER : CERT_SYSTEM_STORE_USERS) |
            CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
        store_name.c_str());
    DWORD open_error = store == nullptr ? GetLastError() : ERROR_SUCCESS;
    // Where that location cannot be opened (Wine does not implement it, and answers with
    // an error of its choosing), the registry store on the user's own hive, read-only: the
    // registry part of the same store. Its error, when it fails too, is the telling one.
    HKEY hive_store = nullptr;
    if (store == nullptr && !own) {
        const std::wstring key = user_sid + L"\\Software\\Microsoft\\SystemCertificates\\MY";
        const LONG opened = RegOpenKeyExW(HKEY_USERS, key.c_str(), 0, KEY_READ, &hive_store);
        if (opened != ERROR_SUCCESS) {
            hive_store = nullptr;
            open_error = static_cast<DWORD>(opened);
        } else {
            store = c.open_store(CERT_STORE_PROV_REG, 0, 0, CERT_STORE_READONLY_FLAG, hive_store);
            if (store == nullptr) open_error = GetLastError();
        }
    }
    if (store == nullptr) {
        if (hive_store != nullptr) RegCloseKey(hive_store);
        survey.open_error = open_error;
        return survey;
    }
    PCCERT_CONTEXT context = nullptr;
    while ((context = c.enumerate(store, context)) != nullptr) {
        CertificateFacts facts;
        wchar_t name[1024];
        if (c.name_to_string(X509_ASN_ENCODING, &context->pCertInfo->Subject, CERT_X500_NAME_STR,
                             name, 1024) > 1) {
            facts.subject = name;
        }
        if (c.name_to_string(X509_ASN_ENCODING, &context->pCertInfo->Issuer, CERT_X500_NAME_STR,
                             name, 1024) > 1) {
            facts.issuer = name;
        }
        // Hashed from the bytes rather than asked as a property: asking would store the
        // property when it is missing.
        BYTE hash[20];
        DWORD hash_size = sizeof hash;
        if (c.hash(0, CALG_SHA1, 0, context->pbCertEncoded, context->cbCertEncoded, hash,
                   &hash_size)) {
            char hex[3];
            for (DWORD i = 0; i < hash_size; ++i) {
                std::snprintf(hex, sizeof hex, "%02x", hash[i]);
                facts.thumbprint += hex;
            }
        }
        facts.not_before = UnixSeconds(context->pCertInfo->NotBefore);
        facts.not_after = UnixSeconds(context->pCertInfo->NotAfter);

        DWORD size = 0;
        if (c.get_property(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) &&
            size >= sizeof(CRYPT_KEY_PROV_INFO)) {
            std::vector<BYTE> buffer(size);
            if (c.get_property(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) {
                const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
                facts.has_key_info = true;
                if (info->pwszProvName != nullptr) facts.provider = info->pwszProvName;
                if (info->pwszContainerName != nullptr) facts.container = info->pwszContainerName;
                facts.provider_type = info->dwProvType;
            }
        }

        size = 0;
        if (!c.get_usage(context, 0, nullptr, &size)) {
            // No extension and no property: good for every use.
            facts.usage_restricted = GetLastError() != static_cast<DWORD>(CRYPT_E_NOT_FOUND);
        } else {
            std::vector<BYTE> buffer(size);
            auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
            // An empty list means "every use" or "no use"; only the last error tells.
            SetLastError(ERROR_SUCCESS);
            if (c.get_usage(context, 0, usage, &size)) {
                if (usage->cUsageIdentifier == 0) {
                    facts.usage_restricted =
                        GetLastError() != static_cast<DWORD>(CRYPT_E_NOT_FOUND);
                }
                for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
                    facts.usages.emplace_back(usage->rgpszUsageIdentifier[i]);
                }
            }
        }
        facts.handle = contexts_.size();
        contexts_.push_back(c.duplicate(context));
        survey.certificates.push_back(std::move(facts));
    }
    c.close_store(store, 0);
    if (hive_store != nullptr) RegCloseKey(hive_store);
    return survey;
}

ChainVerdict Win32TokenSystem::VerifyChain(const CertificateFacts& certificate) {
    ChainVerdict verdict;
    if (!crypt_ || certificate.handle >= contexts_.size()) {
        verdict.build_error = ERROR_INVALID_PARAMETER;
        return verdict;
    }
    const Crypt& c = *crypt_;
    const auto context = static_cast<PCCERT_CONTEXT>(contexts_[certificate.handle]);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    // From what is on this machine only: fetching a missing issuer or an updated root
    // list would write to the URL cache and the root store.
    if (!c.get_chain(nullptr, context, nullptr, context->hCertStore, &para,
                     CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE,
                     nullptr, &chain)) {
        verdict.build_error = GetLastError();
        return verdict;
    }
    verdict.trust_status = chain->TrustStatus.dwErrorStatus;
    // Where the chain stops: the issuer its last certificate names is the one missing
    // from the stores when the chain is partial.
    if (chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const PCERT_SIMPLE_CHAIN simple = chain->rgpChain[0];
        const PCCERT_CONTEXT last = simple->rgpElement[simple->cElement - 1]->pCertContext;
        wchar_t name[1024];
        if (c.name_to_string(X509_ASN_ENCODING, &last->pCertInfo->Issuer, CERT_X500_NAME_STR,
                             name, 1024) > 1) {
            verdict.last_issuer = name;
        }
    }
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!c.verify_policy(CERT_CHAIN_POLICY_BASE, chain, &policy, &status)) {
        verdict.build_error = GetLastError();
    } else {
        verdict.policy_error = status.dwError;
    }
    c.free_chain(chain);
    return verdict;
}

std::int64_t Win32TokenSystem::Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return UnixSeconds(now);
}

}  // namespace qtk::companion::win32
