// Is the token itself usable? The group "token" of the companion's report: the smart-card
// services, the readers and the token in them, the certificates whose key is on a token,
// and the token-key client's own services. Machine rows first, then the user's.
//
// What decides each row, and from which documented behaviour:
//
// - Services. A service is judged by whether it can run when it is needed. Disabled fails
//   whatever its state (nothing can start it); not there (ERROR_SERVICE_DOES_NOT_EXIST,
//   1060) fails; one that may not be queried is undecided. Running, starting or resuming
//   passes; paused fails (SERVICE_STATUS_PROCESS, QUERY_SERVICE_CONFIG,
//   learn.microsoft.com/windows/win32/api/winsvc). A stopped one passes when a start
//   trigger is registered, whatever its start type ("Service Trigger Events",
//   learn.microsoft.com/windows/win32/services/service-trigger-events: a service may
//   register to be started when an event occurs; only triggers whose action is
//   SERVICE_TRIGGER_ACTION_SERVICE_START count, "SERVICE_TRIGGER structure"). Stopped
//   without a start trigger:
//   - set to start automatically (boot, system, automatic): it should be running, so
//     something stopped it: fail;
//   - manual: it depends on who starts it.
//     - CertPropSvc fails. "Certificate Propagation Service" (learn.microsoft.com/windows/
//       security/identity-protection/smart-cards/smart-card-certificate-propagation-service):
//       the service control manager notifies it when a user signs in and it then watches
//       for tokens being inserted; it "must be running for smart card Plug and Play to
//       work". A plain manual start has nobody to start it at sign-in or insertion.
//     - SCardSvr passes. "Smart Cards for Windows Service" (learn.microsoft.com/windows/
//       security/identity-protection/smart-cards/smart-card-smart-cards-for-windows-service)
//       registers it with start="demand"; a reader of the SmartCardReader class starts it
//       through winscard's class entry point when it is inserted.
//     - The client's own services pass: its own programs may start them, which cannot be
//       seen from here.
// - Readers. SCardEstablishContext / SCardListReadersW (winscard.h). SCARD_E_NO_SERVICE
//   (0x8010001D) and SCARD_E_SERVICE_STOPPED (0x8010001E) mean the resource manager is not
//   running: a fail saying so. SCARD_E_NO_READERS_AVAILABLE (0x8010002E) or an empty list:
//   no reader, a fail. Any other answer (Wine without a PC/SC daemon gives
//   SCARD_F_INTERNAL_ERROR, 0x80100001) leaves the row undecided, with the code as given.
//   "Smart Card Return Values",
//   learn.microsoft.com/windows/win32/secauthn/authentication-return-values
// - Token in each reader. SCardGetStatusChangeW with dwCurrentState SCARD_STATE_UNAWARE and
//   a zero time-out answers at once with dwEventState and the ATR ("SCARD_READERSTATEW
//   structure", learn.microsoft.com/windows/win32/api/winscard/ns-winscard-scard_readerstatew).
//   The Smart Cards for Windows service manages each reader slot as a reader of its own
//   ("Smart Cards for Windows Service"), so a laptop's built-in slot is a reader beside a
//   USB token. The machine is ready when at least one reader holds a token (PRESENT, not
//   MUTE): that reader passes with its ATR (EXCLUSIVE / INUSE only noted), and an EMPTY or
//   UNAVAILABLE reader beside it passes too, saying another reader holds the token. When no
//   reader holds one, each EMPTY or UNAVAILABLE reader fails, saying no reader holds a
//   token. A MUTE token fails; UNKNOWN (the reader went away meanwhile) is undecided.
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
//   TPM virtual smart card goes through the smart-card provider and counts).
// - Each token certificate is judged for web sign-in, the kit's purpose:
//   - valid now (NotBefore <= now <= NotAfter); expiring within 30 days is flagged, not
//     failed;
//   - usable for TLS client authentication: Client Authentication (1.3.6.1.5.5.7.3.2), or
//     anyExtendedKeyUsage, or no usage restriction at all (CertGetEnhancedKeyUsage answers
//     CRYPT_E_NOT_FOUND for a certificate good for every use);
//   - its chain (CertGetCertificateChain from this machine's stores and URL cache only,
//     CertVerifyCertificateChainPolicy with CERT_CHAIN_POLICY_BASE, time validity ignored
//     there because it is judged on its own). CERT_TRUST_IS_PARTIAL_CHAIN (0x00010000,
//     "CERT_TRUST_STATUS structure", learn.microsoft.com/windows/win32/api/wincrypt/
//     ns-wincrypt-cert_trust_status: the chain is not complete) or CERT_E_CHAINING
//     (0x800B010A, "CERT_CHAIN_POLICY_STATUS structure": a chain was not correctly
//     created) means an issuer is not in the local stores; Windows fetches it from the
//     certificate's Authority Information Access when the certificate is used (unless
//     CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL is given, "CertGetCertificateChain function"),
//     so the row is undecided, naming the missing issuer. A chain that is complete but ends
//     in a root that is not trusted (CERT_E_UNTRUSTEDROOT, 0x800B0109: "processed correctly
//     but terminated in a root certificate that is not trusted") fails, as does every
//     other policy error.
//   Whether the certificate would also serve Windows sign-in is said beside the verdict
//   (detail windows_logon), never changing it. "Smart Card Group Policy and Registry
//   Settings" (learn.microsoft.com/windows/security/identity-protection/smart-cards/
//   smart-card-group-policy-and-registry-settings), "Allow certificates with no extended
//   key usage certificate attribute": without the policy only certificates with the Smart
//   Card Logon usage (1.3.6.1.4.1.311.20.2.2) sign in; with it (AllowCertificatesWithNoEKU
//   = 1 under HKLM\SOFTWARE\Policies\Microsoft\Windows\SmartCardCredentialProvider),
//   certificates with no EKU, with the All Purpose EKU or with the Client Authentication
//   EKU sign in as well.
// - When the examined user is not the process's own user (SYSTEM examining the console
//   user), their own personal store is opened by their SID ("<SID>\MY" in the system store
//   location CERT_SYSTEM_STORE_USERS, "System Store Locations",
//   learn.microsoft.com/windows/win32/seccrypto/system-store-locations), never SYSTEM's.
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
    bool trigger_start = false;  // a trigger that starts the service is registered
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
    // The issuer named by the chain's last certificate: for a complete chain its root
    // itself, for a partial one the issuer that was not found.
    std::wstring last_issuer;
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
    // A user's personal ("MY") store, opened read-only: the process user's when user_sid is
    // empty, else that user's (HKEY_USERS\<SID>, loaded: they are logged on).
    virtual CertificateSurvey PersonalCertificates(const std::wstring& user_sid) = 0;
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

namespace chain {
inline constexpr std::uint32_t kUntrustedRootStatus = 0x00000020;  // CERT_TRUST_IS_UNTRUSTED_ROOT
inline constexpr std::uint32_t kPartialChain = 0x00010000;         // CERT_TRUST_IS_PARTIAL_CHAIN
inline constexpr std::uint32_t kUntrustedRoot = 0x800B0109;        // CERT_E_UNTRUSTEDROOT
inline constexpr std::uint32_t kChaining = 0x800B010A;             // CERT_E_CHAINING
}  // namespace chain

inline constexpr std::uint32_t kServiceDoesNotExist = win_error::kServiceDoesNotExist;
inline constexpr std::int64_t kExpiryWarningDays = 30;

inline constexpr std::string_view kClientAuthOid = "1.3.6.1.5.5.7.3.2";
inline constexpr std::string_view kAnyUsageOid = "2.5.29.37.0";
inline constexpr std::string_view kSmartCardLogonOid = "1.3.6.1.4.1.311.20.2.2";

// The smart-card sign-in policy that widens which certificates Windows sign-in accepts.
inline constexpr std::wstring_view kSmartCardLogonPolicyKey =
    L"SOFTWARE\\Policies\\Microsoft\\Windows\\SmartCardCredentialProvider";
inline constexpr std::wstring_view kAllowNoEkuValue = L"AllowCertificatesWithNoEKU";

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

struct LogonPolicy {
    bool allow_no_eku = false;  // AllowCertificatesWithNoEKU is 1
};
LogonPolicy ReadLogonPolicy(RegistrySource& registry);

CheckResult JudgeCertificate(const CertificateFacts& certificate, const ChainVerdict& chain,
                             std::int64_t now, const LogonPolicy& policy = {});

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
