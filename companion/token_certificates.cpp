#include "companion/token_readiness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "companion/check_rows.h"

namespace qtk::companion {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;


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

// Why the certificate's usage would let it sign in to Windows with a smart card; empty
// when it would not.
std::wstring WindowsLogon(const CertificateFacts& certificate, const LogonPolicy& policy) {
    if (Contains(certificate.usages, kSmartCardLogonOid)) return L"Smart Card Logon usage";
    if (!policy.allow_no_eku) return L"";
    if (!certificate.usage_restricted) {
        return L"no extended key usage, allowed by AllowCertificatesWithNoEKU";
    }
    if (Contains(certificate.usages, kAnyUsageOid)) {
        return L"All Purpose usage, allowed by AllowCertificatesWithNoEKU";
    }
    if (Contains(certificate.usages, kClientAuthOid)) {
        return L"Client Authentication usage, allowed by AllowCertificatesWithNoEKU";
    }
    return L"";
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

LogonPolicy ReadLogonPolicy(RegistrySource& registry) {
    LogonPolicy policy;
    OpenedKey key;
    const KeyPlace place{Hive::LocalMachine, View::Bits64, std::wstring(kSmartCardLogonPolicyKey)};
    std::uint32_t value = 0;
    if (key.Open(registry, place) == reg_error::kSuccess &&
        registry.ReadDword(key.Handle(), kAllowNoEkuValue, &value) == reg_error::kSuccess) {
        policy.allow_no_eku = value == 1;
    }
    return policy;
}

CheckResult JudgeCertificate(const CertificateFacts& certificate, const ChainVerdict& chain,
                             std::int64_t now, const LogonPolicy& policy) {
    CheckResult row = TokenRow(
        RowId(kTokenGroup, RowScope::User, {L"certificate", Widen(certificate.thumbprint)}),
        RowScope::User, certificate.subject);
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

    // A partial chain's policy error is CERT_E_CHAINING or, as the chain ends short of a
    // root, CERT_E_UNTRUSTEDROOT; any other error (a bad signature, a revoked issuer) is a
    // fault of the part that was found.
    const bool partial =
        chain.policy_error == chain::kChaining ||
        ((chain.trust_status & chain::kPartialChain) != 0 &&
         (chain.policy_error == 0 || chain.policy_error == chain::kUntrustedRoot));
    if (chain.build_error != 0) {
        undecided = true;
        notes.push_back(Cat({L"its chain could not be built (Windows error ",
                             std::to_wstring(chain.build_error), L")"}));
        AddDetail(row, "chain", L"not built");
    } else if (partial) {
        // Windows would fetch the missing issuer when the certificate is used; whether it
        // then reaches a trusted root cannot be told from this machine's stores.
        undecided = true;
        notes.push_back(Cat(
            {L"its chain cannot be completed from this machine's stores (",
             (chain.trust_status & chain::kPartialChain) ? L"CERT_TRUST_IS_PARTIAL_CHAIN"
                                                         : L"CERT_E_CHAINING",
             L"): the issuer ",
             chain.last_issuer.empty() ? L"of its last certificate" : chain.last_issuer,
             L" is in none of them; Windows fetches a missing issuer when the certificate is "
             L"used, so whether it reaches a trusted root cannot be told here"}));
        AddDetail(row, "chain", L"partial");
        AddDetail(row, "trust_status", Hex32(chain.trust_status));
        if (!chain.last_issuer.empty()) AddDetail(row, "missing_issuer", chain.last_issuer);
    } else if (chain.policy_error != 0) {
        faults.push_back(
            Cat({L"does not chain to a trusted root: ", ChainErrorText(chain.policy_error)}));
        AddDetail(row, "chain", Hex32(chain.policy_error));
        // CERT_TRUST_STATUS bits, for whoever needs more than the policy's one error.
        AddDetail(row, "trust_status", Hex32(chain.trust_status));
    } else {
        AddDetail(row, "chain", L"trusted");
    }

    // Windows sign-in is told, not judged: the kit signs in to the web.
    const std::wstring logon = WindowsLogon(certificate, policy);
    AddDetail(row, "windows_logon", logon.empty() ? L"no" : L"yes");

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
        const std::wstring windows =
            logon.empty()
                ? Cat({L"not for Windows sign-in (no Smart Card Logon usage",
                       policy.allow_no_eku ? L"" : L", and AllowCertificatesWithNoEKU is not set",
                       L")"})
                : Cat({L"also for Windows sign-in (", logon, L")"});
        reason = Cat({L"usable for web sign-in (TLS client authentication); ", windows,
                      reason.empty() ? L"" : L"; ", reason});
    }
    row.reason = std::move(reason);
    return row;
}

}  // namespace qtk::companion
