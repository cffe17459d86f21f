// The token group: services, readers and token, certificates on a token, and the client's
// services, each decided from facts a fake system hands over the way Windows documents
// them (SCARD_* codes and state bits, service states and start types, key-provider
// properties, chain policy errors).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "checks/tables.h"
#include "fake_registry.h"
#include "companion/examination.h"
#include "companion/token_readiness.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1796644800;  // 2026-12-07T12:00:00Z

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const char* VerdictName(RowVerdict verdict) {
    switch (verdict) {
        case RowVerdict::Pass: return "pass";
        case RowVerdict::Fail: return "fail";
        case RowVerdict::Undecided: return "undecided";
    }
    return "?";
}

std::wstring Detail(const CheckResult& row, const std::string& name) {
    for (const auto& [key, value] : row.details) {
        if (key == name) return value;
    }
    return L"<none>";
}

bool Mentions(const CheckResult& row, const std::wstring& text) {
    return row.reason.find(text) != std::wstring::npos;
}

class FakeTokenSystem : public TokenSystem {
public:
    std::map<std::wstring, ServiceFacts> services;
    ServiceList service_list;
    ReaderSurvey readers;
    CertificateSurvey store;
    std::map<std::string, ChainVerdict> chains;  // by thumbprint; trusted otherwise

    ServiceFacts QueryService(std::wstring_view name) override {
        const auto found = services.find(std::wstring(name));
        if (found != services.end()) return found->second;
        ServiceFacts missing;
        missing.name = std::wstring(name);
        missing.error = kServiceDoesNotExist;
        return missing;
    }
    ServiceList ListServices() override { return service_list; }
    ReaderSurvey SurveyReaders() override { return readers; }
    std::vector<std::wstring> stores_opened;  // by the SID asked for, "" for our own
    CertificateSurvey PersonalCertificates(const std::wstring& user_sid) override {
        stores_opened.push_back(user_sid);
        return store;
    }
    ChainVerdict VerifyChain(const CertificateFacts& certificate) override {
        const auto found = chains.find(certificate.thumbprint);
        return found == chains.end() ? ChainVerdict{} : found->second;
    }
    std::int64_t Now() override { return kNow; }
};

ServiceFacts Service(std::wstring name, ServiceState state, StartType start, bool trigger = false,
                     std::wstring program = L"") {
    ServiceFacts facts;
    facts.name = std::move(name);
    facts.state = state;
    facts.start_type = start;
    facts.trigger_start = trigger;
    facts.program = std::move(program);
    return facts;
}

const CheckResult* Find(const std::vector<CheckResult>& rows, const std::string& id) {
    const auto found = std::find_if(rows.begin(), rows.end(),
                                    [&](const CheckResult& row) { return row.id == id; });
    return found == rows.end() ? nullptr : &*found;
}

// ---------------------------------------------------------------- services

// Expectations from "Service Trigger Events" (a trigger starts a stopped service),
// "Certificate Propagation Service" (it must be running, or started, to see a token
// inserted) and "Smart Cards for Windows Service" (SCardSvr is start="demand" and is
// started when a reader arrives).
TEST(TokenServices, StateAndStartTypeDecide) {
    struct Case {
        const char* label;
        ServiceFacts facts;
        RowVerdict verdict;
    };
    ServiceFacts denied = Service(L"SCardSvr", ServiceState::Unknown, StartType::Unknown);
    denied.error = 5;
    ServiceFacts missing;
    missing.name = L"SCardSvr";
    missing.error = kServiceDoesNotExist;
    const Case cases[] = {
        {"stopped, manual with trigger: waits for a reader",
         Service(L"SCardSvr", ServiceState::Stopped, StartType::Manual, true), RowVerdict::Pass},
        {"Smart Card service stopped, plain manual start: a reader's arrival starts it",
         Service(L"SCardSvr", ServiceState::Stopped, StartType::Manual), RowVerdict::Pass},
        {"running, manual with trigger",
         Service(L"SCardSvr", ServiceState::Running, StartType::Manual, true), RowVerdict::Pass},
        {"running, automatic", Service(L"SCardSvr", ServiceState::Running, StartType::Automatic),
         RowVerdict::Pass},
        {"starting", Service(L"SCardSvr", ServiceState::StartPending, StartType::Manual),
         RowVerdict::Pass},
        {"stopped and disabled", Service(L"SCardSvr", ServiceState::Stopped, StartType::Disabled),
         RowVerdict::Fail},
        {"disabled with a trigger still cannot start",
         Service(L"SCardSvr", ServiceState::Stopped, StartType::Disabled, true), RowVerdict::Fail},
        {"running but disabled: gone at the next stop",
         Service(L"SCardSvr", ServiceState::Running, StartType::Disabled), RowVerdict::Fail},
        {"automatic but stopped", Service(L"SCardSvr", ServiceState::Stopped, StartType::Automatic),
         RowVerdict::Fail},
        {"automatic, stopped, with a trigger: the trigger starts it",
         Service(L"SCardSvr", ServiceState::Stopped, StartType::Automatic, true), RowVerdict::Pass},
        {"paused", Service(L"SCardSvr", ServiceState::Paused, StartType::Manual), RowVerdict::Fail},
        {"not installed", missing, RowVerdict::Fail},
        {"may not be queried", denied, RowVerdict::Undecided},
        {"propagation running", Service(L"CertPropSvc", ServiceState::Running, StartType::Manual),
         RowVerdict::Pass},
        {"propagation stopped, manual with trigger",
         Service(L"CertPropSvc", ServiceState::Stopped, StartType::Manual, true), RowVerdict::Pass},
        {"propagation stopped, plain manual: nothing starts it when a token comes",
         Service(L"CertPropSvc", ServiceState::Stopped, StartType::Manual), RowVerdict::Fail},
        {"propagation stopped, automatic with trigger",
         Service(L"CertPropSvc", ServiceState::Stopped, StartType::Automatic, true),
         RowVerdict::Pass},
        {"propagation stopped, automatic without trigger: it should be running",
         Service(L"CertPropSvc", ServiceState::Stopped, StartType::Automatic), RowVerdict::Fail},
        {"propagation disabled, with a trigger",
         Service(L"CertPropSvc", ServiceState::Stopped, StartType::Disabled, true),
         RowVerdict::Fail},
        {"propagation's key name in another case",
         Service(L"certpropsvc", ServiceState::Stopped, StartType::Manual), RowVerdict::Fail},
        {"a client's service, stopped, plain manual: its programs start it",
         Service(L"TokenSvc", ServiceState::Stopped, StartType::Manual), RowVerdict::Pass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const CheckResult row =
            JudgeService(c.facts, "token.machine.scardsvr", L"the Smart Card service");
        EXPECT_EQ(VerdictName(row.verdict), VerdictName(c.verdict)) << Narrow(row.reason);
        EXPECT_EQ(row.group, "token");
        EXPECT_EQ(row.scope, RowScope::Machine);
        EXPECT_FALSE(row.reason.empty());
    }
}

TEST(TokenServices, ReasonSaysWhyDisabledAndMissingFail) {
    const CheckResult disabled = JudgeService(
        Service(L"CertPropSvc", ServiceState::Stopped, StartType::Disabled), "x", L"propagation");
    EXPECT_TRUE(Mentions(disabled, L"disabled")) << Narrow(disabled.reason);
    ServiceFacts missing;
    missing.name = L"CertPropSvc";
    missing.error = kServiceDoesNotExist;
    const CheckResult gone = JudgeService(missing, "x", L"propagation");
    EXPECT_TRUE(Mentions(gone, L"not installed")) << Narrow(gone.reason);
    const CheckResult trigger = JudgeService(
        Service(L"SCardSvr", ServiceState::Stopped, StartType::Manual, true), "x", L"smart card");
    EXPECT_EQ(Detail(trigger, "start"), L"manual start, trigger start");
    EXPECT_EQ(Detail(trigger, "state"), L"stopped");
    const CheckResult plain = JudgeService(
        Service(L"CertPropSvc", ServiceState::Stopped, StartType::Manual), "x", L"propagation");
    EXPECT_TRUE(Mentions(plain, L"no start trigger")) << Narrow(plain.reason);
}

// ---------------------------------------------------------------- readers and token

ReaderFacts Reader(std::wstring name, std::uint32_t state, std::vector<std::uint8_t> atr = {}) {
    return ReaderFacts{std::move(name), state, std::move(atr)};
}

TEST(TokenReaders, ResourceManagerAndReaderList) {
    struct Case {
        const char* label;
        ReaderSurvey survey;
        RowVerdict verdict;
        std::wstring says;
    };
    const Case cases[] = {
        {"winscard.dll missing",
         {ReaderStep::Load, 126, {}},
         RowVerdict::Undecided,
         L"winscard.dll"},
        {"resource manager not running at establish",
         {ReaderStep::Establish, scard::kNoService, {}},
         RowVerdict::Fail,
         L"resource manager is not running"},
        {"resource manager shut down while listing",
         {ReaderStep::List, scard::kServiceStopped, {}},
         RowVerdict::Fail,
         L"resource manager is not running"},
        {"Wine without a PC/SC daemon: internal error, passed on as is",
         {ReaderStep::Establish, scard::kInternalError, {}},
         RowVerdict::Undecided,
         L"0x80100001"},
        {"no readers available",
         {ReaderStep::List, scard::kNoReaders, {}},
         RowVerdict::Fail,
         L"no smart-card reader"},
        {"an empty reader list",
         {ReaderStep::None, 0, {}},
         RowVerdict::Fail,
         L"no smart-card reader"},
        {"one reader",
         {ReaderStep::None, 0, {Reader(L"USB Reader 0", scard::kStateEmpty)}},
         RowVerdict::Pass,
         L"1 reader"},
        {"readers listed, states unreadable",
         {ReaderStep::Status, 0x80100003, {Reader(L"USB Reader 0", 0)}},
         RowVerdict::Pass,
         L"1 reader"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::vector<CheckResult> rows = JudgeReaders(c.survey);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0].id, "token.machine.readers");
        EXPECT_EQ(VerdictName(rows[0].verdict), VerdictName(c.verdict)) << Narrow(rows[0].reason);
        EXPECT_TRUE(Mentions(rows[0], c.says)) << Narrow(rows[0].reason);
        // Only a listed reader gets a row of its own.
        EXPECT_EQ(rows.size(), 1 + c.survey.readers.size());
    }
}

TEST(TokenReaders, TokenPresenceFromTheEventState) {
    const std::vector<std::uint8_t> atr{0x3B, 0xD5, 0x18, 0xFF, 0x81, 0x91, 0xFE, 0x1F, 0xC3};
    struct Case {
        const char* label;
        std::uint32_t state;
        std::vector<std::uint8_t> atr;
        RowVerdict verdict;
        std::wstring says;
    };
    const Case cases[] = {
        {"token present, with its ATR", scard::kStatePresent | 0x2, atr, RowVerdict::Pass,
         L"present"},
        {"present and in use by another program", scard::kStatePresent | scard::kStateInUse, atr,
         RowVerdict::Pass, L"in use"},
        {"present, held exclusively", scard::kStatePresent | scard::kStateExclusive, atr,
         RowVerdict::Pass, L"exclusively"},
        {"no token", scard::kStateEmpty, {}, RowVerdict::Fail, L"no token"},
        {"reader unavailable", scard::kStateUnavailable, {}, RowVerdict::Fail, L"unavailable"},
        {"a mute token", scard::kStatePresent | scard::kStateMute, {}, RowVerdict::Fail, L"mute"},
        {"reader gone meanwhile",
         scard::kStateUnknown | 0x3,
         {},
         RowVerdict::Undecided,
         L"no longer known"},
        {"no state bit at all", 0, {}, RowVerdict::Undecided, L"0x00000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::vector<CheckResult> rows =
            JudgeReaders({ReaderStep::None, 0, {Reader(L"Vendor USB Token 0", c.state, c.atr)}});
        ASSERT_EQ(rows.size(), 2u);
        const CheckResult& row = rows[1];
        EXPECT_EQ(row.id, "token.machine.reader.vendor_usb_token_0");
        EXPECT_EQ(row.target, L"Vendor USB Token 0");
        EXPECT_EQ(VerdictName(row.verdict), VerdictName(c.verdict)) << Narrow(row.reason);
        EXPECT_TRUE(Mentions(row, c.says)) << Narrow(row.reason);
        EXPECT_EQ(Detail(row, "atr"), c.atr.empty() ? L"<none>" : L"3B D5 18 FF 81 91 FE 1F C3");
    }
}

TEST(TokenReaders, EveryReaderHasItsOwnRowAndId) {
    const std::vector<CheckResult> rows =
        JudgeReaders({ReaderStep::None,
                      0,
                      {Reader(L"Reader A 0", scard::kStateEmpty),
                       Reader(L"Reader-A 0", scard::kStatePresent, {0x3B}),
                       Reader(L"Reader A.0", scard::kStateEmpty)}});
    ASSERT_EQ(rows.size(), 4u);
    std::set<std::string> ids;
    for (const CheckResult& row : rows) EXPECT_TRUE(ids.insert(row.id).second) << row.id;
    EXPECT_EQ(rows[2].verdict, RowVerdict::Pass);
    EXPECT_EQ(rows[0].reason, L"3 reader(s) seen, 1 holding a token");
}

// "Smart Cards for Windows Service": every reader slot is a reader of its own. The machine
// needs one token; the empty slot beside it is reported, not failed.
TEST(TokenReaders, OneTokenInAnyReaderIsEnough) {
    constexpr std::uint32_t kPresent = scard::kStatePresent;
    constexpr std::uint32_t kEmpty = scard::kStateEmpty;
    struct Case {
        const char* label;
        std::vector<std::uint32_t> states;
        std::vector<RowVerdict> verdicts;
        std::vector<std::wstring> says;
    };
    const Case cases[] = {
        {"a laptop's empty slot beside a USB token",
         {kEmpty, kPresent},
         {RowVerdict::Pass, RowVerdict::Pass},
         {L"no token in this reader (another reader holds one)", L"a token is present"}},
        {"the token in the first reader", {kPresent, kEmpty, kEmpty},
         {RowVerdict::Pass, RowVerdict::Pass, RowVerdict::Pass},
         {L"present", L"another reader holds one", L"another reader holds one"}},
        {"a token in use by another program still counts",
         {kPresent | scard::kStateInUse, kEmpty},
         {RowVerdict::Pass, RowVerdict::Pass},
         {L"in use", L"another reader holds one"}},
        {"an unavailable reader beside a token", {scard::kStateUnavailable, kPresent},
         {RowVerdict::Pass, RowVerdict::Pass},
         {L"unavailable (another reader holds a token)", L"present"}},
        {"every reader empty", {kEmpty, kEmpty},
         {RowVerdict::Fail, RowVerdict::Fail},
         {L"no token in any reader", L"no token in any reader"}},
        {"a mute token is no token", {kPresent | scard::kStateMute, kEmpty},
         {RowVerdict::Fail, RowVerdict::Fail},
         {L"mute", L"no token in any reader"}},
        {"a mute token beside a working one", {kPresent | scard::kStateMute, kPresent},
         {RowVerdict::Fail, RowVerdict::Pass},
         {L"mute", L"present"}},
        {"a reader gone meanwhile beside an empty one", {scard::kStateUnknown, kEmpty},
         {RowVerdict::Undecided, RowVerdict::Fail},
         {L"no longer known", L"no token in any reader"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ReaderSurvey survey{ReaderStep::None, 0, {}};
        for (std::size_t i = 0; i < c.states.size(); ++i)
            survey.readers.push_back(Reader(L"Reader " + std::to_wstring(i), c.states[i]));
        const std::vector<CheckResult> rows = JudgeReaders(survey);
        ASSERT_EQ(rows.size(), 1 + c.states.size());
        // The readers row stays about the readers; it counts the tokens.
        EXPECT_EQ(rows[0].verdict, RowVerdict::Pass);
        for (std::size_t i = 0; i < c.states.size(); ++i) {
            SCOPED_TRACE(i);
            const CheckResult& row = rows[1 + i];
            EXPECT_EQ(row.id, "token.machine.reader.reader_" + std::to_string(i));
            EXPECT_EQ(VerdictName(row.verdict), VerdictName(c.verdicts[i])) << Narrow(row.reason);
            EXPECT_TRUE(Mentions(row, c.says[i])) << Narrow(row.reason);
        }
    }
}

TEST(TokenReaders, StatusFailureLeavesEachReaderUndecided) {
    const std::vector<CheckResult> rows = JudgeReaders(
        {ReaderStep::Status, scard::kNoService, {Reader(L"R 0", 0), Reader(L"R 1", 0)}});
    ASSERT_EQ(rows.size(), 3u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].verdict, RowVerdict::Undecided);
        EXPECT_TRUE(Mentions(rows[i], L"0x8010001D")) << Narrow(rows[i].reason);
    }
}

// ---------------------------------------------------------------- certificates

CertificateFacts TokenCertificate(std::string thumbprint) {
    CertificateFacts facts;
    facts.subject = L"CN=Somchai Example, O=QRN";
    facts.issuer = L"CN=QRN Issuing CA";
    facts.thumbprint = std::move(thumbprint);
    facts.not_before = kNow - 100 * kDay;
    facts.not_after = kNow + 300 * kDay;
    facts.has_key_info = true;
    facts.provider = L"Microsoft Smart Card Key Storage Provider";
    facts.usages = {std::string(kClientAuthOid)};
    return facts;
}

TEST(TokenCertificates, UsableForSigningIn) {
    struct Case {
        const char* label;
        std::function<void(CertificateFacts&, ChainVerdict&)> change;
        RowVerdict verdict;
        std::wstring says;
        bool expires_soon;
    };
    const Case cases[] = {
        {"valid, Client Authentication, trusted", [](auto&, auto&) {}, RowVerdict::Pass,
         L"usable for web sign-in (TLS client authentication)", false},
        {"expired yesterday", [](auto& c, auto&) { c.not_after = kNow - kDay; }, RowVerdict::Fail,
         L"expired on", false},
        {"not valid yet", [](auto& c, auto&) { c.not_before = kNow + kDay; }, RowVerdict::Fail,
         L"not valid before", false},
        {"expires in 10 days: flagged, still usable",
         [](auto& c, auto&) { c.not_after = kNow + 10 * kDay; }, RowVerdict::Pass,
         L"expires in 10 day(s)", true},
        {"expires in 10 hours: 0 days left", [](auto& c, auto&) { c.not_after = kNow + 36000; },
         RowVerdict::Pass, L"expires in 0 day(s)", true},
        {"29 days and a bit left", [](auto& c, auto&) { c.not_after = kNow + 30 * kDay - 1; },
         RowVerdict::Pass, L"expires in 29 day(s)", true},
        {"exactly 30 days left is not flagged",
         [](auto& c, auto&) { c.not_after = kNow + 30 * kDay; }, RowVerdict::Pass, L"usable",
         false},
        {"only for e-mail protection", [](auto& c, auto&) { c.usages = {"1.3.6.1.5.5.7.3.4"}; },
         RowVerdict::Fail, L"not usable for Client Authentication", false},
        {"usage restricted to nothing", [](auto& c, auto&) { c.usages.clear(); }, RowVerdict::Fail,
         L"Client Authentication", false},
        {"no usage restriction: good for every use",
         [](auto& c, auto&) {
             c.usages.clear();
             c.usage_restricted = false;
         },
         RowVerdict::Pass, L"usable", false},
        {"anyExtendedKeyUsage",
         [](auto& c, auto&) {
             c.usages = {"1.3.6.1.5.5.7.3.4", std::string(kAnyUsageOid)};
         },
         RowVerdict::Pass, L"usable", false},
        {"root not trusted", [](auto&, auto& v) { v.policy_error = 0x800B0109; }, RowVerdict::Fail,
         L"CERT_E_UNTRUSTEDROOT", false},
        {"root not trusted, the chain complete to it",
         [](auto&, auto& v) {
             v.policy_error = chain::kUntrustedRoot;
             v.trust_status = chain::kUntrustedRootStatus;
         },
         RowVerdict::Fail, L"does not chain to a trusted root", false},
        {"an issuer missing from the stores (CERT_E_CHAINING)",
         [](auto&, auto& v) { v.policy_error = chain::kChaining; }, RowVerdict::Undecided,
         L"cannot be completed from this machine's stores", false},
        {"a partial chain, however the policy names it",
         [](auto&, auto& v) {
             v.policy_error = chain::kUntrustedRoot;
             v.trust_status = chain::kPartialChain | chain::kUntrustedRootStatus;
             v.last_issuer = L"CN=QRN Issuing CA";
         },
         RowVerdict::Undecided, L"the issuer CN=QRN Issuing CA is in none of them", false},
        {"a bad signature in the part of a partial chain that was found",
         [](auto&, auto& v) {
             v.policy_error = 0x80096004;
             v.trust_status = chain::kPartialChain | 0x8;
         },
         RowVerdict::Fail, L"TRUST_E_CERT_SIGNATURE", false},
        {"a fault beats a partial chain",
         [](auto& c, auto& v) {
             c.not_after = kNow - kDay;
             v.trust_status = chain::kPartialChain;
         },
         RowVerdict::Fail, L"CERT_TRUST_IS_PARTIAL_CHAIN", false},
        {"chain engine failed", [](auto&, auto& v) { v.build_error = 87; }, RowVerdict::Undecided,
         L"could not be built", false},
        {"a fault beats an undecided chain",
         [](auto& c, auto& v) {
             v.build_error = 87;
             c.usages = {"1.3.6.1.5.5.7.3.4"};
         },
         RowVerdict::Fail, L"could not be built", false},
        {"expired and not for Client Authentication: both said",
         [](auto& c, auto&) {
             c.not_after = kNow - kDay;
             c.usages = {"1.3.6.1.5.5.7.3.3"};
         },
         RowVerdict::Fail, L"expired on 2026-12-06T12:00:00Z; not usable for Client Authentication",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CertificateFacts facts = TokenCertificate("a1b2");
        ChainVerdict chain;
        c.change(facts, chain);
        const CheckResult row = JudgeCertificate(facts, chain, kNow);
        EXPECT_EQ(VerdictName(row.verdict), VerdictName(c.verdict)) << Narrow(row.reason);
        EXPECT_TRUE(Mentions(row, c.says)) << Narrow(row.reason);
        EXPECT_EQ(Detail(row, "expires_soon"), c.expires_soon ? L"yes" : L"<none>");
        EXPECT_EQ(row.scope, RowScope::User);
        EXPECT_EQ(row.id, "token.user.certificate.a1b2");
    }
}

TEST(TokenCertificates, DetailsCarryWhatAPersonAsksFor) {
    CertificateFacts facts = TokenCertificate("00ff");
    facts.not_before = 951782400;  // 2000-02-29
    facts.not_after = kNow + 45 * kDay + 3600;
    const CheckResult row = JudgeCertificate(facts, {}, kNow);
    EXPECT_EQ(Detail(row, "subject"), L"CN=Somchai Example, O=QRN");
    EXPECT_EQ(Detail(row, "issuer"), L"CN=QRN Issuing CA");
    EXPECT_EQ(Detail(row, "not_before"), L"2000-02-29T00:00:00Z");
    EXPECT_EQ(Detail(row, "not_after"), L"2027-01-21T13:00:00Z");
    EXPECT_EQ(Detail(row, "days_left"), L"45");
    EXPECT_EQ(Detail(row, "chain"), L"trusted");
    EXPECT_EQ(Detail(row, "client_authentication"), L"yes");
    facts.not_after = kNow - 2 * kDay - 1;
    EXPECT_EQ(Detail(JudgeCertificate(facts, {}, kNow), "days_left"), L"-3");
}

// "Smart Card Group Policy and Registry Settings", "Allow certificates with no extended
// key usage certificate attribute": without it only the Smart Card Logon usage signs in to
// Windows; with it, no EKU, the All Purpose EKU and Client Authentication do as well. The
// verdict stays the web sign-in's.
TEST(TokenCertificates, WindowsSignInBesideTheVerdict) {
    const std::string logon(kSmartCardLogonOid);
    const std::string client(kClientAuthOid);
    struct Case {
        const char* label;
        std::vector<std::string> usages;
        bool restricted;
        bool allow_no_eku;
        bool windows;
        RowVerdict verdict;
    };
    const Case cases[] = {
        {"Client Authentication and Smart Card Logon", {client, logon}, true, false, true,
         RowVerdict::Pass},
        {"Client Authentication only", {client}, true, false, false, RowVerdict::Pass},
        {"Client Authentication only, the policy on", {client}, true, true, true,
         RowVerdict::Pass},
        {"no EKU", {}, false, false, false, RowVerdict::Pass},
        {"no EKU, the policy on", {}, false, true, true, RowVerdict::Pass},
        {"All Purpose, the policy on", {std::string(kAnyUsageOid)}, true, true, true,
         RowVerdict::Pass},
        {"Smart Card Logon only: Windows yes, the web no", {logon}, true, false, true,
         RowVerdict::Fail},
        {"e-mail only, the policy on", {"1.3.6.1.5.5.7.3.4"}, true, true, false,
         RowVerdict::Fail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CertificateFacts facts = TokenCertificate("ab");
        facts.usages = c.usages;
        facts.usage_restricted = c.restricted;
        const CheckResult row = JudgeCertificate(facts, {}, kNow, LogonPolicy{c.allow_no_eku});
        EXPECT_EQ(VerdictName(row.verdict), VerdictName(c.verdict)) << Narrow(row.reason);
        EXPECT_EQ(Detail(row, "windows_logon"), c.windows ? L"yes" : L"no");
        if (c.verdict == RowVerdict::Pass) {
            EXPECT_TRUE(Mentions(row, c.windows ? L"also for Windows sign-in"
                                                : L"not for Windows sign-in"))
                << Narrow(row.reason);
        }
    }
}

TEST(TokenCertificates, UtcTextAcrossTheCalendar) {
    const std::pair<std::int64_t, const wchar_t*> cases[] = {
        {0, L"1970-01-01T00:00:00Z"},         {-1, L"1969-12-31T23:59:59Z"},
        {951782400, L"2000-02-29T00:00:00Z"}, {4102444799, L"2099-12-31T23:59:59Z"},
        {kNow, L"2026-12-07T12:00:00Z"},
    };
    for (const auto& [seconds, text] : cases) {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(UtcText(seconds), text);
    }
}

// ---------------------------------------------------------------- the whole group

constexpr wchar_t kCalais[] = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
const std::wstring kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct Bench {
    FakeTokenSystem system;
    FakeRegistrySource registry;
    ExaminedUser user;

    Bench() {
        system.services[L"SCardSvr"] =
            Service(L"SCardSvr", ServiceState::Running, StartType::Manual, true);
        system.services[L"CertPropSvc"] =
            Service(L"CertPropSvc", ServiceState::Running, StartType::Manual);
        system.readers = {
            ReaderStep::None, 0, {Reader(L"Token 0", scard::kStatePresent, {0x3B, 0x00})}};
    }
    // As the whole examination runs the group: the user's keys through the examined
    // user's registry, the rows finished with the rest.
    std::vector<CheckResult> Run() {
        UserChoice choice;
        choice.user = user;
        if (!user.logged_on) choice.unavailable_reason = L"no user logged on";
        std::vector<CheckResult> rows =
            Examine(registry, choice, {nullptr, nullptr, nullptr, &system});
        std::erase_if(rows, [](const CheckResult& row) { return row.group != kTokenGroup; });
        return rows;
    }
};

TEST(TokenGroup, WhichCertificatesHaveTheirKeyOnAToken) {
    struct Case {
        const char* label;
        std::wstring provider;
        bool has_key_info;
        std::function<void(FakeRegistrySource&)> registry;
        bool on_token;
    };
    const auto vendor_card = [](View view) {
        return [view](FakeRegistrySource& r) {
            r.SetString(Hive::LocalMachine, view, std::wstring(kCalais) + L"\\Vendor Card v2",
                        L"Crypto Provider", L"Vendor Token Base CSP");
        };
    };
    const Case cases[] = {
        {"Microsoft Smart Card Key Storage Provider", L"Microsoft Smart Card Key Storage Provider",
         true, nullptr, true},
        {"Microsoft Base Smart Card Crypto Provider", L"Microsoft Base Smart Card Crypto Provider",
         true, nullptr, true},
        {"provider names compare without regard to case",
         L"microsoft smart card key storage PROVIDER", true, nullptr, true},
        {"software key storage provider", L"Microsoft Software Key Storage Provider", true, nullptr,
         false},
        {"software CSP", L"Microsoft Enhanced RSA and AES Cryptographic Provider", true, nullptr,
         false},
        {"no key-provider property at all", L"Microsoft Smart Card Key Storage Provider", false,
         nullptr, false},
        {"vendor CSP a card type registers", L"Vendor Token Base CSP", true,
         vendor_card(View::Bits64), true},
        {"vendor CSP registered by a 32-bit middleware", L"Vendor Token Base CSP", true,
         vendor_card(View::Bits32), true},
        {"vendor KSP registered for a card", L"Vendor Token KSP", true,
         [](FakeRegistrySource& r) {
             r.SetString(Hive::LocalMachine, View::Bits64,
                         std::wstring(kCalais) + L"\\Vendor Card v2",
                         L"Smart Card Key Storage Provider", L"Vendor Token KSP");
         },
         true},
        {"the TPM's provider: hardware, but no token", L"Microsoft Platform Crypto Provider", true,
         nullptr, false},
        {"vendor provider no card type names", L"Vendor Token Base CSP", true, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        if (c.registry) c.registry(bench.registry);
        CertificateFacts facts = TokenCertificate("c0ffee");
        facts.provider = c.provider;
        facts.has_key_info = c.has_key_info;
        bench.system.store.certificates = {facts};
        const std::vector<CheckResult> rows = bench.Run();
        const CheckResult* store = Find(rows, "token.user.certificates");
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(VerdictName(store->verdict),
                  VerdictName(c.on_token ? RowVerdict::Pass : RowVerdict::Fail))
            << Narrow(store->reason);
        EXPECT_EQ(Find(rows, "token.user.certificate.c0ffee") != nullptr, c.on_token);
        EXPECT_EQ(bench.registry.open_handles, 0);
    }
}

TEST(TokenGroup, TheStoreAndWhoseItIs) {
    struct Case {
        const char* label;
        ExaminedUser user;
        std::uint32_t open_error;
        RowVerdict verdict;
        std::wstring says;
        std::vector<std::wstring> opened;  // the stores asked for, by SID
    };
    const std::wstring other = L"S-1-5-21-1-2-3-1001";
    const Case cases[] = {
        {"the process's own user", {}, 0, RowVerdict::Pass, L"1 certificate(s)", {L""}},
        {"another user (run as SYSTEM for the console user): their store, by SID",
         {true, false, other, L"WS\\somchai"},
         0,
         RowVerdict::Pass,
         L"1 certificate(s)",
         {other}},
        {"another user's store refused", {true, false, other, L""}, 5, RowVerdict::Undecided,
         L"could not be opened", {other}},
        {"nobody logged on", {false, false, L"", L""}, 0, RowVerdict::Undecided,
         L"no user logged on", {}},
        {"store may not be opened", {}, 5, RowVerdict::Undecided, L"could not be opened", {L""}},
        {"no personal store yet", {}, 2, RowVerdict::Fail, L"no certificate", {L""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        bench.user = c.user;
        bench.system.store.open_error = c.open_error;
        if (c.open_error == 0) bench.system.store.certificates = {TokenCertificate("c0ffee")};
        const std::vector<CheckResult> rows = bench.Run();
        const CheckResult* store = Find(rows, "token.user.certificates");
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(VerdictName(store->verdict), VerdictName(c.verdict)) << Narrow(store->reason);
        EXPECT_TRUE(Mentions(*store, c.says)) << Narrow(store->reason);
        // Never this process's own store in place of the examined user's.
        ASSERT_EQ(bench.system.stores_opened.size(), c.opened.size());
        for (std::size_t i = 0; i < c.opened.size(); ++i) {
            EXPECT_EQ(Narrow(bench.system.stores_opened[i]), Narrow(c.opened[i]));
        }
        const bool judged = c.user.logged_on && c.open_error == 0;
        EXPECT_EQ(Find(rows, "token.user.certificate.c0ffee") != nullptr, judged);
        // The machine rows do not depend on whose store it is.
        EXPECT_NE(Find(rows, "token.machine.readers"), nullptr);
    }
}

TEST(TokenGroup, SignInPolicyFromTheMachineKey) {
    const std::wstring key = L"SOFTWARE\\Policies\\Microsoft\\Windows\\SmartCardCredentialProvider";
    struct Case {
        const char* label;
        std::function<void(FakeRegistrySource&)> registry;
        const wchar_t* windows;
    };
    const Case cases[] = {
        {"not configured", nullptr, L"no"},
        {"enabled",
         [&](FakeRegistrySource& r) {
             r.SetDword(Hive::LocalMachine, View::Bits64, key, L"AllowCertificatesWithNoEKU", 1);
         },
         L"yes"},
        {"disabled",
         [&](FakeRegistrySource& r) {
             r.SetDword(Hive::LocalMachine, View::Bits64, key, L"AllowCertificatesWithNoEKU", 0);
         },
         L"no"},
        {"set for the user only: a machine policy",
         [&](FakeRegistrySource& r) {
             r.SetDword(Hive::CurrentUser, View::Bits64, key, L"AllowCertificatesWithNoEKU", 1);
         },
         L"no"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        if (c.registry) c.registry(bench.registry);
        CertificateFacts facts = TokenCertificate("0e");
        facts.usages.clear();
        facts.usage_restricted = false;
        bench.system.store.certificates = {facts};
        const std::vector<CheckResult> rows = bench.Run();
        const CheckResult* row = Find(rows, "token.user.certificate.0e");
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->verdict, RowVerdict::Pass) << Narrow(row->reason);
        EXPECT_EQ(Detail(*row, "windows_logon"), c.windows);
        EXPECT_EQ(bench.registry.open_handles, 0);
    }
}

TEST(TokenGroup, SeveralCertificatesEachJudged) {
    Bench bench;
    CertificateFacts expired = TokenCertificate("01");
    expired.not_after = kNow - kDay;
    CertificateFacts mail = TokenCertificate("02");
    mail.usages = {"1.3.6.1.5.5.7.3.4"};
    CertificateFacts stranger = TokenCertificate("03");
    CertificateFacts soft = TokenCertificate("04");
    soft.provider = L"Microsoft Software Key Storage Provider";
    CertificateFacts good = TokenCertificate("05");
    bench.system.store.certificates = {expired, mail, stranger, soft, good};
    bench.system.chains["03"] = ChainVerdict{0, chain::kUntrustedRoot, chain::kUntrustedRootStatus, L""};
    const std::vector<CheckResult> rows = bench.Run();
    const std::pair<const char*, RowVerdict> wanted[] = {{"01", RowVerdict::Fail},
                                                         {"02", RowVerdict::Fail},
                                                         {"03", RowVerdict::Fail},
                                                         {"05", RowVerdict::Pass}};
    for (const auto& [thumb, verdict] : wanted) {
        SCOPED_TRACE(thumb);
        const CheckResult* row = Find(rows, std::string("token.user.certificate.") + thumb);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(VerdictName(row->verdict), VerdictName(verdict)) << Narrow(row->reason);
    }
    EXPECT_EQ(Find(rows, "token.user.certificate.04"), nullptr);
    EXPECT_EQ(Detail(*Find(rows, "token.user.certificates"), "software_keys"), L"1");
}

TEST(TokenGroup, RowsComeInOrderWithDistinctIds) {
    Bench bench;
    bench.system.readers.readers.push_back(Reader(L"Token 1", scard::kStateEmpty));
    bench.system.store.certificates = {TokenCertificate("aa")};
    const std::vector<CheckResult> rows = bench.Run();
    ASSERT_GE(rows.size(), 6u);
    EXPECT_EQ(rows[0].id, "token.machine.scardsvr");
    EXPECT_EQ(rows[1].id, "token.machine.certpropsvc");
    EXPECT_EQ(rows[2].id, "token.machine.readers");
    EXPECT_EQ(rows[3].id, "token.machine.reader.token_0");
    std::set<std::string> ids;
    bool user_seen = false;
    for (const CheckResult& row : rows) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(row.group, "token");
        EXPECT_TRUE(ids.insert(row.id).second);
        EXPECT_FALSE(row.reason.empty());
        // Details become one JSON object per row: a name used twice would lose a value.
        std::set<std::string> names;
        for (const auto& detail : row.details)
            EXPECT_TRUE(names.insert(detail.first).second) << detail.first;
        // Machine rows first, then the user's.
        if (row.scope == RowScope::User)
            user_seen = true;
        else
            EXPECT_FALSE(user_seen);
    }
    EXPECT_EQ(rows.back().id, "token.user.certificate.aa");
}

// ---------------------------------------------------------------- the client's services

TEST(TokenMiddleware, ServicesFoundFromThePackagesUninstallEntry) {
    const SoftwarePackage& client = SoftwarePackages()[0];
    // What a fleet's scripts key on: letters and digits, everything else '_'.
    const std::string row_id = "token.machine.middleware.safenet_authentication_client_8_2";
    const std::wstring folder = L"C:\\Program Files\\Vendor\\Client";
    const auto installed = [&](FakeRegistrySource& r, const std::wstring& value,
                               const std::wstring& data) {
        r.SetString(Hive::LocalMachine, View::Bits64, kUninstall + L"\\{C1}", L"DisplayName",
                    std::wstring(client.display_name));
        if (!value.empty())
            r.SetString(Hive::LocalMachine, View::Bits64, kUninstall + L"\\{C1}", value, data);
    };
    struct Case {
        const char* label;
        std::wstring value;  // where the entry says the package is
        std::wstring data;
        std::vector<ServiceFacts> services;
        std::uint32_t list_error;
        std::vector<std::pair<std::string, RowVerdict>> rows;  // id suffix ("" = the package row)
    };
    const std::wstring program = folder + L"\\bin\\TokenSvc.exe";
    const Case cases[] = {
        {"running service under InstallLocation",
         L"InstallLocation",
         folder + L"\\",
         {Service(L"TokenSvc", ServiceState::Running, StartType::Automatic, false, program),
          Service(L"Spooler", ServiceState::Running, StartType::Automatic, false,
                  L"C:\\Windows\\System32\\spoolsv.exe")},
         0,
         {{".tokensvc", RowVerdict::Pass}}},
        {"stopped although automatic",
         L"InstallLocation",
         folder,
         {Service(L"TokenSvc", ServiceState::Stopped, StartType::Automatic, false, program)},
         0,
         {{".tokensvc", RowVerdict::Fail}}},
        {"stopped, started on demand",
         L"InstallLocation",
         folder,
         {Service(L"TokenSvc", ServiceState::Stopped, StartType::Manual, false, program)},
         0,
         {{".tokensvc", RowVerdict::Pass}}},
        {"disabled",
         L"InstallLocation",
         folder,
         {Service(L"TokenSvc", ServiceState::Stopped, StartType::Disabled, false, program)},
         0,
         {{".tokensvc", RowVerdict::Fail}}},
        {"folder from the icon of an MSI entry",
         L"DisplayIcon",
         L"\"" + folder + L"\\tray.exe\",0",
         {Service(L"TokenSvc", ServiceState::Running, StartType::Automatic, false, program)},
         0,
         {{".tokensvc", RowVerdict::Pass}}},
        {"a quoted command line with arguments",
         L"InstallLocation",
         folder,
         {Service(L"TokenSvc", ServiceState::Running, StartType::Automatic, false,
                  L"\"" + program + L"\" -service")},
         0,
         {{".tokensvc", RowVerdict::Pass}}},
        {"case and slashes of the path do not matter",
         L"InstallLocation",
         L"c:/program files/vendor/CLIENT",
         {Service(L"TokenSvc", ServiceState::Running, StartType::Automatic, false, program)},
         0,
         {{".tokensvc", RowVerdict::Pass}}},
        {"a sibling folder with the same beginning is another package",
         L"InstallLocation",
         folder,
         {Service(L"Other", ServiceState::Running, StartType::Automatic, false,
                  L"C:\\Program Files\\Vendor\\Client Tools\\other.exe")},
         0,
         {{"", RowVerdict::Pass}}},
        {"installed, no service of its own",
         L"InstallLocation",
         folder,
         {},
         0,
         {{"", RowVerdict::Pass}}},
        {"installed, the entry names no folder", L"", L"", {}, 0, {{"", RowVerdict::Undecided}}},
        {"services could not be listed",
         L"InstallLocation",
         folder,
         {},
         5,
         {{"", RowVerdict::Undecided}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        installed(bench.registry, c.value, c.data);
        bench.system.service_list = {c.list_error, c.services};
        const std::vector<CheckResult> rows = bench.Run();
        std::size_t middleware = 0;
        for (const CheckResult& row : rows) {
            if (row.id.rfind(row_id, 0) == 0) ++middleware;
        }
        EXPECT_EQ(middleware, c.rows.size());
        for (const auto& [suffix, verdict] : c.rows) {
            const CheckResult* row = Find(rows, row_id + suffix);
            ASSERT_NE(row, nullptr) << row_id + suffix;
            EXPECT_EQ(VerdictName(row->verdict), VerdictName(verdict)) << Narrow(row->reason);
        }
    }
}

TEST(TokenMiddleware, PackageNotInstalledHasNothingToLookAt) {
    Bench bench;
    bench.system.service_list = {0,
                                 {Service(L"TokenSvc", ServiceState::Running, StartType::Automatic,
                                          false, L"C:\\Program Files\\Vendor\\Client\\svc.exe")}};
    const std::vector<CheckResult> rows = bench.Run();
    for (const char* id : {"token.machine.middleware.safenet_authentication_client_8_2",
                           "token.machine.middleware.safenet_authentication_manager_client_8_0_sp2"}) {
        SCOPED_TRACE(id);
        const CheckResult* row = Find(rows, id);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->verdict, RowVerdict::Undecided);
        EXPECT_TRUE(Mentions(*row, L"not installed")) << Narrow(row->reason);
    }
}

}  // namespace
}  // namespace qtk::companion
