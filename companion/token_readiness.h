// Is the token itself usable? The group "token" of the companion's report: the smart-card
// services, the readers and the token in them, the certificates whose key is on a token,
// and the token-key client's own services. Machine rows first, then the user's.
//
// What decides each row, and from which documented behaviour:
//
// - Services (SCardSvr, CertPropSvc, and the client's). "Smart Cards for Windows Service"
//   (learn.microsoft.com/windows/security/identity-protection/smart-cards/
//   smart-card-smart-cards-for-windows-service) registers SCardSvr with start="demand";
//   since Windows 8 it is started by a trigger when a reader arrives. So a stopped service
//   that may start on demand (manual or trigger start) passes; disabled fails, and so does
//   one set to start automatically that is not running, or paused (SERVICE_STATUS_PROCESS,
//   QUERY_SERVICE_CONFIG, learn.microsoft.com/windows/win32/api/winsvc). A service that is
//   not there (ERROR_SERVICE_DOES_NOT_EXIST, 1060) fails; one that may not be queried is
//   undecided.
// - Readers. SCardEstablishContext / SCardListReadersW (winscard.h). SCARD_E_NO_SERVICE
//   (0x8010001D) and SCARD_E_SERVICE_STOPPED (0x8010001E) mean the resource manager is not
//   running: a fail saying so. SCARD_E_NO_READERS_AVAILABLE (0x8010002E) or an empty list:
//   no reader, a fail. Any other answer (Wine without a PC/SC daemon gives
//   SCARD_F_INTERNAL_ERROR, 0x80100001) leaves the row undecided, with the code as given.
//   "Smart Card Return Values",
//   learn.microsoft.com/windows/win32/secauthn/authentication-return-values
// - Token in each reader. SCardGetStatusChangeW with dwCurrentState SCARD_STATE_UNAWARE and
//   a zero time-out answers at once with dwEventState and the ATR ("SCARD_READERSTATEW
//   structure", learn.microsoft.com/windows/win32/api/winscard/ns-winscard-scard_readerstatew):
//   PRESENT passes with the ATR (EXCLUSIVE / INUSE only noted); EMPTY, UNAVAILABLE, or a
//   MUTE token fail; UNKNOWN (the reader went away meanwhile) is undecided.
// - Certificates whose key is on a token. The CERT_KEY_PROV_INFO_PROP_ID property (a
//   CRYPT_KEY_PROV_INFO) is read, the key never opened, so no PIN prompt can come. Its
//   provider is a token's when it is one of Microsoft's smart-card providers
//   ("Microsoft Smart Card Key Storage Provider", MS_SMART_CARD_KEY_STORAGE_PROVIDER;
//   "Microsoft Base Smart Card Crypto Provider", MS_SCARD_PROV) or a provider that a card
//   type registers under HKLM\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards\<card> as
//   "Crypto Provider" or "Smart Card Key Storage Provider" ("Minidriver Registration",
//   learn.microsoft.com/windows-hardware/drivers/smartcard/minidriver-registration). Every
//   other provider is a software one and its certificates are left out; so is the TPM's
//   "Microsoft Platform Crypto Provider", whose keys are in hardware but on no token (a
//   TPM virtual smart card goes through the smart-card provider and counts). For each token
//   certificate: valid now (NotBefore <= now <= NotAfter); expiring within 30 days is
//   flagged, not failed; usable for Client Authentication (1.3.6.1.5.5.7.3.2, or
//   anyExtendedKeyUsage, or no usage restriction at all: CertGetEnhancedKeyUsage answers
//   CRYPT_E_NOT_FOUND for a certificate good for every use); and a chain to a trusted root
//   (CertGetCertificateChain + CertVerifyCertificateChainPolicy with CERT_CHAIN_POLICY_BASE,
//   time validity ignored there because it is judged on its own).
// - When the examined user is not the process's own user, their personal store is not the
//   one this process would open: the certificate row is undecided, never SYSTEM's store.
// - The client's services come from the packages the check tables name: the package's
//   Uninstall entry gives its folder (InstallLocation, else the folder of DisplayIcon), and
//   the Win32 services whose program lies in that folder are the client's. No vendor name
//   is written here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "companion/check_result.h"
#include "companion/registry_source.h"

namespace qtk::companion {

inline constexpr std::string_view kTokenGroup = "token";

// ---------------------------------------------------------------- what the system tells

enum class ServiceState {
    Stopped,
    StartPending,
    StopPending,
    Running,
    ContinuePending,
    PausePending,
    Paused,
    Unknown
};
enum class StartType { Boot, System, Automatic, Manual, Disabled, Unknown };

struct ServiceFacts {
    std::wstring name;        // the service's key name
    std::uint32_t error = 0;  // 0: queried; else the Windows error (1060: not there)
    std::wstring display_name;
    ServiceState state = ServiceState::Unknown;
    StartType start_type = StartType::Unknown;
    bool delayed_start = false;
    bool trigger_start = false;  // at least one start trigger is registered
    std::wstring program;        // its command line (image path), variables expanded
};

struct ServiceList {
    std::uint32_t error = 0;  // the service manager could not be asked
    std::vector<ServiceFacts> services;
};

// The step of the reader survey that failed, if any.
enum class ReaderStep { None, Load, Establish, List, Status };

struct ReaderFacts {
    std::wstring name;
    std::uint32_t event_state = 0;  // SCARD_STATE_* bits
    std::vector<std::uint8_t> atr;
};

struct ReaderSurvey {
    ReaderStep failed_at = ReaderStep::None;
    std::uint32_t code = 0;  // the SCARD_* / Windows code of that step
    std::vector<ReaderFacts> readers;
};

struct ChainVerdict {
    std::uint32_t build_error = 0;   // CertGetCertificateChain failed: its Windows error
    std::uint32_t policy_error = 0;  // CERT_CHAIN_POLICY_STATUS.dwError: 0 is trusted
    std::uint32_t trust_status = 0;  // CERT_TRUST_STATUS.dwErrorStatus of the chain
};

struct CertificateFacts {
    std::size_t handle = 0;  // the seam's own reference, for VerifyChain
    std::wstring subject;
    std::wstring issuer;
    std::string thumbprint;       // SHA-1 of the encoded certificate, lower-case hex
    std::int64_t not_before = 0;  // seconds since 1970-01-01 UTC
    std::int64_t not_after = 0;
    bool has_key_info = false;        // a CERT_KEY_PROV_INFO_PROP_ID property exists
    std::wstring provider;            // its pwszProvName
    std::uint32_t provider_type = 0;  // its dwProvType; 0 for a CNG key storage provider
    std::wstring container;
    bool usage_restricted = true;     // false: good for every use
    std::vector<std::string> usages;  // enhanced key usage OIDs
};

struct CertificateSurvey {
    std::uint32_t open_error = 0;  // the personal store could not be opened
    std::vector<CertificateFacts> certificates;
};

// The one seam of this group: everything the examination asks of the system beside the
// registry. Each call answers with plain facts; the Win32 side only translates.
class TokenSystem {
public:
    virtual ~TokenSystem() = default;
    virtual ServiceFacts QueryService(std::wstring_view name) = 0;
    // Every Win32 service with its program; asked only when a client package is installed.
    virtual ServiceList ListServices() = 0;
    virtual ReaderSurvey SurveyReaders() = 0;
    // The process user's personal ("MY") store, opened read-only.
    virtual CertificateSurvey PersonalCertificates() = 0;
    virtual ChainVerdict VerifyChain(const CertificateFacts& certificate) = 0;
    // Seconds since 1970-01-01 UTC.
    virtual std::int64_t Now() = 0;
};

// ---------------------------------------------------------------- the judgement

namespace scard {
inline constexpr std::uint32_t kInternalError = 0x80100001;   // SCARD_F_INTERNAL_ERROR
inline constexpr std::uint32_t kNoService = 0x8010001D;       // SCARD_E_NO_SERVICE
inline constexpr std::uint32_t kServiceStopped = 0x8010001E;  // SCARD_E_SERVICE_STOPPED
inline constexpr std::uint32_t kNoReaders = 0x8010002E;       // SCARD_E_NO_READERS_AVAILABLE
inline constexpr std::uint32_t kStateUnknown = 0x0004;
inline constexpr std::uint32_t kStateUnavailable = 0x0008;
inline constexpr std::uint32_t kStateEmpty = 0x0010;
inline constexpr std::uint32_t kStatePresent = 0x0020;
inline constexpr std::uint32_t kStateExclusive = 0x0080;
inline constexpr std::uint32_t kStateInUse = 0x0100;
inline constexpr std::uint32_t kStateMute = 0x0200;
}  // namespace scard

inline constexpr std::uint32_t kServiceDoesNotExist = win_error::kServiceDoesNotExist;
inline constexpr std::int64_t kExpiryWarningDays = 30;

inline constexpr std::string_view kClientAuthOid = "1.3.6.1.5.5.7.3.2";
inline constexpr std::string_view kAnyUsageOid = "2.5.29.37.0";

// The services every token needs, by key name.
inline constexpr std::wstring_view kSmartCardService = L"SCardSvr";
inline constexpr std::wstring_view kCertPropagationService = L"CertPropSvc";

// A row of this group; its id comes from RowId().
CheckResult TokenRow(std::string id, RowScope scope, std::wstring target);

CheckResult JudgeService(const ServiceFacts& service, std::string id, std::wstring role);
std::vector<CheckResult> JudgeReaders(const ReaderSurvey& survey);

// Providers of a token's keys: Microsoft's two and those the card types register.
std::vector<std::wstring> SmartCardProviders(RegistrySource& registry);
bool IsTokenProvider(const CertificateFacts& certificate,
                     const std::vector<std::wstring>& providers);

CheckResult JudgeCertificate(const CertificateFacts& certificate, const ChainVerdict& chain,
                             std::int64_t now);

// Whether program (an absolute path, perhaps quoted and followed by arguments, as a
// service command line holds it) lies in folder or below it, without regard to case.
bool ProgramInFolder(std::wstring_view program, std::wstring_view folder);

// The whole group, in report order.
std::vector<CheckResult> ExamineTokenReadiness(TokenSystem& system, RegistrySource& registry,
                                               const ExaminedUser& user);

// "2026-12-07T12:00:00Z".
std::wstring UtcText(std::int64_t seconds);
// "3B 8F 80 01".
std::wstring HexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace qtk::companion
