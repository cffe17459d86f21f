#include "companion/token_readiness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <set>
#include <utility>

#include "checks/tables.h"
#include "companion/software_install.h"

namespace qtk::companion {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::wstring Widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

// One allocation per message however many parts it has: at -O3 every operator+ of a long
// chain is inlined, and this file builds many messages.
std::wstring Cat(std::initializer_list<std::wstring_view> parts) {
    std::size_t size = 0;
    for (const std::wstring_view part : parts) size += part.size();
    std::wstring text;
    text.reserve(size);
    for (const std::wstring_view part : parts) text += part;
    return text;
}

std::wstring Hex32(std::uint32_t code) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(code));
    return text;
}

// Not a template: one copy of the vector's growth code, not one per pair of literal sizes.
void AddDetail(CheckResult& row, const char* name, std::wstring value) {
    row.details.emplace_back(std::string(name), std::move(value));
}

CheckResult Row(std::string id, RowScope scope, std::wstring target) {
    CheckResult row;
    row.id = std::move(id);
    row.group = std::string(kTokenGroup);
    row.scope = scope;
    row.target = std::move(target);
    return row;
}

std::wstring StateText(ServiceState state) {
    switch (state) {
        case ServiceState::Stopped: return L"stopped";
        case ServiceState::StartPending: return L"starting";
        case ServiceState::StopPending: return L"stopping";
        case ServiceState::Running: return L"running";
        case ServiceState::ContinuePending: return L"resuming";
        case ServiceState::PausePending: return L"pausing";
        case ServiceState::Paused: return L"paused";
        case ServiceState::Unknown: break;
    }
    return L"in an unknown state";
}

std::wstring StartText(const ServiceFacts& service) {
    std::wstring text;
    switch (service.start_type) {
        case StartType::Boot: text = L"boot start"; break;
        case StartType::System: text = L"system start"; break;
        case StartType::Automatic:
            text = service.delayed_start ? L"automatic (delayed) start" : L"automatic start";
            break;
        case StartType::Manual: text = L"manual start"; break;
        case StartType::Disabled: text = L"disabled"; break;
        case StartType::Unknown: text = L"unknown start type"; break;
    }
    if (service.trigger_start && service.start_type != StartType::Disabled) {
        text += L", trigger start";
    }
    return text;
}

// The SCARD_* codes a person meets, by the names winscard.h gives them.
std::wstring ScardName(std::uint32_t code) {
    switch (code) {
        case scard::kInternalError:
            return L"SCARD_F_INTERNAL_ERROR, an internal consistency check failed";
        case 0x80100003: return L"SCARD_E_INVALID_HANDLE";
        case 0x80100006: return L"SCARD_E_NO_MEMORY";
        case 0x80100009: return L"SCARD_E_UNKNOWN_READER";
        case 0x8010000A: return L"SCARD_E_TIMEOUT";
        case 0x80100017: return L"SCARD_E_READER_UNAVAILABLE";
        case scard::kNoService: return L"SCARD_E_NO_SERVICE, the resource manager is not running";
        case scard::kServiceStopped:
            return L"SCARD_E_SERVICE_STOPPED, the resource manager has shut down";
        case scard::kNoReaders: return L"SCARD_E_NO_READERS_AVAILABLE";
        default: return L"";
    }
}

std::wstring CodeText(std::uint32_t code) {
    const std::wstring name = ScardName(code);
    return name.empty() ? Hex32(code) : Cat({Hex32(code), L" (", name, L")"});
}

std::wstring StepText(ReaderStep step) {
    switch (step) {
        case ReaderStep::Load: return L"loading winscard.dll";
        case ReaderStep::Establish: return L"SCardEstablishContext";
        case ReaderStep::List: return L"SCardListReadersW";
        case ReaderStep::Status: return L"SCardGetStatusChangeW";
        case ReaderStep::None: break;
    }
    return L"the reader survey";
}

bool Contains(const std::vector<std::string>& list, std::string_view item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::wstring ChainErrorText(std::uint32_t code) {
    switch (code) {
        case 0x800B0109: return L"CERT_E_UNTRUSTEDROOT, its root is not trusted";
        case 0x800B010A: return L"CERT_E_CHAINING, an issuer is missing from the stores";
        case 0x800B010D: return L"CERT_E_UNTRUSTEDTESTROOT, its root is a test root";
        case 0x80096004: return L"TRUST_E_CERT_SIGNATURE, a signature in the chain does not verify";
        case 0x80096019: return L"TRUST_E_BASIC_CONSTRAINTS, an issuer may not issue";
        case 0x800B0110: return L"CERT_E_WRONG_USAGE";
        case 0x80092010: return L"CRYPT_E_REVOKED";
        case 0x800B010C: return L"CERT_E_REVOKED";
        default: return Cat({L"policy error ", Hex32(code)});
    }
}

std::wstring FoldWide(std::wstring_view text) {
    std::wstring folded(text);
    for (wchar_t& c : folded) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c == L'/') c = L'\\';
    }
    return folded;
}

// "\"C:\\Program Files\\X\\x.exe\",0" and the like, as DisplayIcon holds it: the folder.
std::wstring IconFolder(std::wstring_view icon) {
    std::wstring path(icon);
    if (!path.empty() && path.front() == L'"') {
        const std::size_t close = path.find(L'"', 1);
        path = path.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    } else if (const std::size_t comma = path.rfind(L','); comma != std::wstring::npos) {
        path.resize(comma);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L"";
    path.resize(slash);
    return path;
}

bool Absolute(std::wstring_view path) {
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

}  // namespace

std::wstring UtcText(std::int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds point{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(point);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> time{point - day};
    wchar_t text[40];
    std::swprintf(text, 40, L"%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::wstring HexBytes(const std::vector<std::uint8_t>& bytes) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) text += L' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string IdPart(std::wstring_view text) {
    std::string part;
    for (const wchar_t c : text) {
        if ((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9')) {
            part += static_cast<char>(c);
        } else if (c >= L'A' && c <= L'Z') {
            part += static_cast<char>(c - L'A' + 'a');
        } else {
            part += '_';
        }
    }
    return part;
}

CheckResult JudgeService(const ServiceFacts& service, std::string id, std::wstring role) {
    CheckResult row = Row(std::move(id), RowScope::Machine, service.name);
    row.place = Cat({L"service ", service.name});
    const std::wstring who = Cat({role, L" (", service.name, L")"});
    if (service.error == kServiceDoesNotExist) {
        row.verdict = RowVerdict::Fail;
        row.reason = Cat({who, L" is not installed on this system"});
        return row;
    }
    if (service.error != 0) {
        row.verdict = RowVerdict::Undecided;
        row.reason = Cat(
            {who, L" could not be queried (Windows error ", std::to_wstring(service.error), L")"});
        return row;
    }
    if (!service.display_name.empty()) AddDetail(row, "display_name", service.display_name);
    AddDetail(row, "state", StateText(service.state));
    AddDetail(row, "start", StartText(service));
    if (!service.program.empty()) AddDetail(row, "program", service.program);
    const std::wstring how = Cat({StateText(service.state), L", ", StartText(service)});
    // A disabled service cannot be started by a trigger or a program, whatever its state.
    if (service.start_type == StartType::Disabled) {
        row.verdict = RowVerdict::Fail;
        row.reason = Cat({who, L" is disabled (", how, L")"});
        return row;
    }
    switch (service.state) {
        case ServiceState::Running:
        case ServiceState::StartPending:
        case ServiceState::ContinuePending:
            row.verdict = RowVerdict::Pass;
            row.reason = Cat({who, L" is ", how});
            return row;
        case ServiceState::Paused:
        case ServiceState::PausePending:
            row.verdict = RowVerdict::Fail;
            row.reason = Cat({who, L" is ", how});
            return row;
        case ServiceState::Stopped:
        case ServiceState::StopPending:
            // Manual and trigger-started services are stopped until something needs them.
            if (service.start_type == StartType::Manual) {
                row.verdict = RowVerdict::Pass;
                row.reason = Cat({who, L" is ", how, L"; it starts when it is needed"});
            } else {
                row.verdict = RowVerdict::Fail;
                row.reason = Cat({who, L" is ", how, L", so something stopped it"});
            }
            return row;
        case ServiceState::Unknown: break;
    }
    row.verdict = RowVerdict::Undecided;
    row.reason = Cat({who, L" is ", how});
    return row;
}

std::vector<CheckResult> JudgeReaders(const ReaderSurvey& survey) {
    std::vector<CheckResult> rows;
    CheckResult readers = Row("token.machine.readers", RowScope::Machine, L"smart-card readers");
    const bool listed =
        survey.failed_at == ReaderStep::None || survey.failed_at == ReaderStep::Status;
    readers.place = Cat({L"winscard ", StepText(listed ? ReaderStep::List : survey.failed_at)});
    if (survey.failed_at == ReaderStep::Load) {
        readers.verdict = RowVerdict::Undecided;
        readers.reason = Cat({L"winscard.dll could not be loaded from System32 (Windows error ",
                              std::to_wstring(survey.code), L")"});
    } else if (!listed &&
               (survey.code == scard::kNoService || survey.code == scard::kServiceStopped)) {
        readers.verdict = RowVerdict::Fail;
        readers.reason = Cat({L"the smart-card resource manager is not running: ",
                              StepText(survey.failed_at), L" answered ", CodeText(survey.code)});
    } else if ((!listed && survey.code == scard::kNoReaders) ||
               (listed && survey.readers.empty())) {
        readers.verdict = RowVerdict::Fail;
        readers.reason = L"no smart-card reader is attached or seen by Windows";
    } else if (!listed) {
        // Whatever else the smart-card layer says is passed on as it is: it may mean there
        // is no reader, or that the layer itself is broken, and only a person can tell.
        readers.verdict = RowVerdict::Undecided;
        readers.reason = Cat({StepText(survey.failed_at), L" answered ", CodeText(survey.code),
                              L"; whether a reader is attached cannot be told"});
    } else {
        readers.verdict = RowVerdict::Pass;
        readers.reason = Cat({std::to_wstring(survey.readers.size()), L" reader(s) seen"});
        // Detail names are keys of one object in the report: each reader gets its own.
        for (std::size_t i = 0; i < survey.readers.size(); ++i) {
            AddDetail(readers, ("reader_" + std::to_string(i + 1)).c_str(), survey.readers[i].name);
        }
    }
    if (!listed) AddDetail(readers, "code", Hex32(survey.code));
    rows.push_back(std::move(readers));
    if (!listed) return rows;

    std::set<std::string> ids;
    for (const ReaderFacts& reader : survey.readers) {
        std::string id = "token.machine.reader." + IdPart(reader.name);
        // Two names that differ only in punctuation would share an id.
        for (int n = 2; !ids.insert(id).second; ++n) id += "_" + std::to_string(n);
        CheckResult row = Row(std::move(id), RowScope::Machine, reader.name);
        row.place = L"winscard SCardGetStatusChangeW";
        const std::uint32_t state = reader.event_state;
        AddDetail(row, "state", Hex32(state));
        if (survey.failed_at == ReaderStep::Status) {
            row.verdict = RowVerdict::Undecided;
            row.reason = Cat({L"SCardGetStatusChangeW answered ", CodeText(survey.code)});
        } else if (state & scard::kStateUnknown) {
            row.verdict = RowVerdict::Undecided;
            row.reason = L"the reader was no longer known when its state was asked";
        } else if (state & scard::kStateUnavailable) {
            row.verdict = RowVerdict::Fail;
            row.reason = L"the reader's state is unavailable";
        } else if (state & scard::kStateEmpty) {
            row.verdict = RowVerdict::Fail;
            row.reason = L"no token in this reader";
        } else if ((state & scard::kStatePresent) && (state & scard::kStateMute)) {
            row.verdict = RowVerdict::Fail;
            row.reason = L"a token is present but does not answer (mute)";
        } else if (state & scard::kStatePresent) {
            row.verdict = RowVerdict::Pass;
            row.reason = L"a token is present";
            if (state & scard::kStateExclusive)
                row.reason += L", held exclusively by another program";
            else if (state & scard::kStateInUse)
                row.reason += L", in use by another program";
        } else {
            row.verdict = RowVerdict::Undecided;
            row.reason = Cat({L"the reader reported state ", Hex32(state)});
        }
        if (!reader.atr.empty()) AddDetail(row, "atr", HexBytes(reader.atr));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::wstring> SmartCardProviders(RegistrySource& registry) {
    std::vector<std::wstring> providers{L"Microsoft Smart Card Key Storage Provider",
                                        L"Microsoft Base Smart Card Crypto Provider"};
    // Card types of a 32-bit middleware register in the 32-bit view only; both are read.
    for (const View view : {View::Bits64, View::Bits32}) {
        const KeyPlace cards{Hive::LocalMachine, view,
                             L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards"};
        OpenedKey key;
        if (key.Open(registry, cards) != reg_error::kSuccess) continue;
        std::vector<std::wstring> names;
        if (registry.ListSubkeys(key.Handle(), &names) != reg_error::kSuccess) continue;
        for (const std::wstring& name : names) {
            OpenedKey card;
            if (card.Open(registry, cards.Child(name)) != reg_error::kSuccess) continue;
            for (const wchar_t* value : {L"Crypto Provider", L"Smart Card Key Storage Provider"}) {
                std::wstring provider;
                if (registry.ReadString(card.Handle(), value, &provider) == reg_error::kSuccess &&
                    !provider.empty()) {
                    providers.push_back(std::move(provider));
                }
            }
        }
    }
    return providers;
}

bool IsTokenProvider(const CertificateFacts& certificate,
                     const std::vector<std::wstring>& providers) {
    if (!certificate.has_key_info || certificate.provider.empty()) return false;
    return std::any_of(providers.begin(), providers.end(), [&](const std::wstring& provider) {
        return SameName(provider, certificate.provider);
    });
}

CheckResult JudgeCertificate(const CertificateFacts& certificate, const ChainVerdict& chain,
                             std::int64_t now) {
    CheckResult row = Row("token.user.certificate." + certificate.thumbprint, RowScope::User,
                          certificate.subject);
    row.place = Cat({L"personal store (MY), certificate ", Widen(certificate.thumbprint)});
    AddDetail(row, "subject", certificate.subject);
    AddDetail(row, "issuer", certificate.issuer);
    AddDetail(row, "not_before", UtcText(certificate.not_before));
    AddDetail(row, "not_after", UtcText(certificate.not_after));
    AddDetail(row, "provider", certificate.provider);

    std::vector<std::wstring> faults;
    std::vector<std::wstring> notes;
    bool undecided = false;

    // Whole days still to go, rounded down: a certificate ending in 10 hours has 0 left.
    const std::int64_t left = certificate.not_after - now;
    const std::int64_t days_left =
        left >= 0 ? left / kSecondsPerDay : -((-left + kSecondsPerDay - 1) / kSecondsPerDay);
    AddDetail(row, "days_left", std::to_wstring(days_left));
    if (now < certificate.not_before) {
        faults.push_back(Cat({L"not valid before ", UtcText(certificate.not_before)}));
    } else if (now > certificate.not_after) {
        faults.push_back(Cat({L"expired on ", UtcText(certificate.not_after)}));
    } else if (days_left < kExpiryWarningDays) {
        notes.push_back(Cat({L"expires in ", std::to_wstring(days_left), L" day(s), on ",
                             UtcText(certificate.not_after)}));
        AddDetail(row, "expires_soon", L"yes");
    }

    const bool client_auth = !certificate.usage_restricted ||
                             Contains(certificate.usages, kClientAuthOid) ||
                             Contains(certificate.usages, kAnyUsageOid);
    AddDetail(row, "client_authentication", client_auth ? L"yes" : L"no");
    if (!client_auth) faults.push_back(L"not usable for Client Authentication");

    if (chain.build_error != 0) {
        undecided = true;
        notes.push_back(Cat({L"its chain could not be built (Windows error ",
                             std::to_wstring(chain.build_error), L")"}));
        AddDetail(row, "chain", L"not built");
    } else if (chain.policy_error != 0) {
        faults.push_back(
            Cat({L"does not chain to a trusted root: ", ChainErrorText(chain.policy_error)}));
        AddDetail(row, "chain", Hex32(chain.policy_error));
        // CERT_TRUST_STATUS bits, for whoever needs more than the policy's one error.
        AddDetail(row, "trust_status", Hex32(chain.trust_status));
    } else {
        AddDetail(row, "chain", L"trusted");
    }

    std::wstring reason;
    for (const auto* list : {&faults, &notes}) {
        for (const std::wstring& part : *list) {
            if (!reason.empty()) reason += L"; ";
            reason += part;
        }
    }
    if (!faults.empty()) {
        row.verdict = RowVerdict::Fail;
    } else if (undecided) {
        row.verdict = RowVerdict::Undecided;
    } else {
        row.verdict = RowVerdict::Pass;
        reason =
            reason.empty() ? L"usable for signing in" : Cat({L"usable for signing in; ", reason});
    }
    row.reason = std::move(reason);
    return row;
}

PackagePlace FindPackage(RegistrySource& registry, std::wstring_view display_name) {
    PackagePlace found;
    for (const KeyPlace& place : UninstallPlaces()) {
        OpenedKey uninstall;
        if (uninstall.Open(registry, place) != reg_error::kSuccess) continue;
        std::vector<std::wstring> products;
        if (registry.ListSubkeys(uninstall.Handle(), &products) != reg_error::kSuccess) continue;
        for (const std::wstring& product : products) {
            const KeyPlace product_place = place.Child(product);
            OpenedKey key;
            if (key.Open(registry, product_place) != reg_error::kSuccess) continue;
            std::wstring name;
            if (registry.ReadString(key.Handle(), L"DisplayName", &name) != reg_error::kSuccess ||
                !SameDisplayName(name, display_name)) {
                continue;
            }
            found.found = true;
            found.entry = DescribePlace(product_place);
            std::wstring folder;
            if (registry.ReadString(key.Handle(), L"InstallLocation", &folder) !=
                    reg_error::kSuccess ||
                !Absolute(folder)) {
                // Many MSI packages leave InstallLocation empty but name their icon.
                std::wstring icon;
                folder =
                    registry.ReadString(key.Handle(), L"DisplayIcon", &icon) == reg_error::kSuccess
                        ? IconFolder(icon)
                        : L"";
            }
            while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
                folder.pop_back();
            if (Absolute(folder)) {
                found.folder = std::move(folder);
                return found;
            }
        }
    }
    return found;
}

bool ProgramInFolder(std::wstring_view program, std::wstring_view folder) {
    if (folder.empty()) return false;
    // A service's command line quotes a program path that holds blanks.
    if (!program.empty() && program.front() == L'"') program.remove_prefix(1);
    const std::wstring p = FoldWide(program);
    std::wstring f = FoldWide(folder);
    if (f.back() != L'\\') f += L'\\';
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0;
}

std::vector<CheckResult> ExamineTokenReadiness(TokenSystem& system, RegistrySource& registry,
                                               const ExaminedUser& user) {
    std::vector<CheckResult> rows;
    rows.push_back(JudgeService(system.QueryService(kSmartCardService), "token.machine.scardsvr",
                                L"the Smart Card service"));
    rows.push_back(JudgeService(system.QueryService(kCertPropagationService),
                                "token.machine.certpropsvc",
                                L"the Certificate Propagation service"));
    for (CheckResult& row : JudgeReaders(system.SurveyReaders())) rows.push_back(std::move(row));

    // The token-key client's own services.
    std::optional<ServiceList> services;
    for (const SoftwarePackage& package : SoftwarePackages()) {
        const PackagePlace place = FindPackage(registry, package.display_name);
        CheckResult row = Row("token.machine.middleware." + IdPart(package.display_name),
                              RowScope::Machine, std::wstring(package.display_name));
        row.place = place.entry.empty() ? L"the Uninstall keys of HKLM and HKCU" : place.entry;
        if (!place.found) {
            row.verdict = RowVerdict::Undecided;
            row.reason = L"not installed, so it has no service to look at";
            rows.push_back(std::move(row));
            continue;
        }
        if (place.folder.empty()) {
            row.verdict = RowVerdict::Undecided;
            row.reason =
                L"installed, but its Uninstall entry names no folder (InstallLocation, "
                L"DisplayIcon) to find its services by";
            rows.push_back(std::move(row));
            continue;
        }
        AddDetail(row, "folder", place.folder);
        if (!services) services = system.ListServices();
        if (services->error != 0) {
            row.verdict = RowVerdict::Undecided;
            row.reason = Cat({L"the services could not be listed (Windows error ",
                              std::to_wstring(services->error), L")"});
            rows.push_back(std::move(row));
            continue;
        }
        std::vector<const ServiceFacts*> own;
        for (const ServiceFacts& service : services->services) {
            if (ProgramInFolder(service.program, place.folder)) own.push_back(&service);
        }
        if (own.empty()) {
            // Not every client runs a service; having none is not a fault.
            row.verdict = RowVerdict::Pass;
            row.reason = Cat({L"installed in ", place.folder, L"; it registers no service there"});
            rows.push_back(std::move(row));
            continue;
        }
        for (const ServiceFacts* service : own) {
            CheckResult service_row =
                JudgeService(*service,
                             "token.machine.middleware." + IdPart(package.display_name) + "." +
                                 IdPart(service->name),
                             Cat({L"the service of ", package.display_name}));
            AddDetail(service_row, "package", std::wstring(package.display_name));
            rows.push_back(std::move(service_row));
        }
    }

    // The user's certificates: only when the store this process opens is theirs.
    CheckResult store =
        Row("token.user.certificates", RowScope::User, L"personal certificate store");
    store.place = L"personal store (MY) of the current user";
    if (!user.logged_on) {
        store.verdict = RowVerdict::Undecided;
        store.reason = L"nobody is logged on whose certificates could be examined";
        rows.push_back(std::move(store));
        return rows;
    }
    if (!user.is_process_user) {
        store.verdict = RowVerdict::Undecided;
        store.reason = Cat({L"the examined user", user.name.empty() ? L"" : L" ", user.name,
                            L" is not the user this program runs as; their personal store "
                            L"cannot be opened from here, and this program's own store is not "
                            L"theirs"});
        rows.push_back(std::move(store));
        return rows;
    }
    const CertificateSurvey survey = system.PersonalCertificates();
    // 2 (ERROR_FILE_NOT_FOUND) and CRYPT_E_NOT_FOUND: a profile that never had a personal
    // store, which holds no certificate either.
    if (survey.open_error != 0 && survey.open_error != 2 && survey.open_error != 0x80092004) {
        store.verdict = RowVerdict::Undecided;
        store.reason = Cat(
            {L"the personal store could not be opened (error ", Hex32(survey.open_error), L")"});
        rows.push_back(std::move(store));
        return rows;
    }
    const std::vector<std::wstring> providers = SmartCardProviders(registry);
    std::vector<const CertificateFacts*> on_token;
    std::size_t software = 0;
    for (const CertificateFacts& certificate : survey.certificates) {
        if (IsTokenProvider(certificate, providers)) {
            on_token.push_back(&certificate);
        } else if (certificate.has_key_info) {
            ++software;
        }
    }
    AddDetail(store, "certificates", std::to_wstring(survey.certificates.size()));
    AddDetail(store, "software_keys", std::to_wstring(software));
    AddDetail(store, "token_keys", std::to_wstring(on_token.size()));
    if (on_token.empty()) {
        store.verdict = RowVerdict::Fail;
        store.reason = Cat({L"no certificate in the personal store has its key on a token (",
                            std::to_wstring(survey.certificates.size()), L" certificate(s), ",
                            std::to_wstring(software), L" with a key in a software provider)"});
        rows.push_back(std::move(store));
        return rows;
    }
    store.verdict = RowVerdict::Pass;
    store.reason =
        Cat({std::to_wstring(on_token.size()), L" certificate(s) with a key on a token"});
    rows.push_back(std::move(store));
    const std::int64_t now = system.Now();
    for (const CertificateFacts* certificate : on_token) {
        rows.push_back(JudgeCertificate(*certificate, system.VerifyChain(*certificate), now));
    }
    return rows;
}

}  // namespace qtk::companion
