// Whether the clean-up script is started at the close: always when not elevated; when
// elevated, only if neither the script nor C:\tmptk may be changed by anyone but the user,
// Administrators and SYSTEM.
#include "app/cleanup_launch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/form2.h"
#include "fakes.h"

namespace qtk::testing {
namespace {

const std::wstring kMe = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kSomeoneElse = L"S-1-5-21-1004336348-1177238915-682003330-1002";
constexpr std::uint32_t kFullControl = 0x001F01FF;
constexpr std::uint32_t kReadAndExecute = 0x001200A9;
constexpr std::uint32_t kModify = 0x001301BF;
constexpr std::uint32_t kWriteAttributes = 0x0100;
constexpr std::uint32_t kWriteExtendedAttributes = 0x0010;

AccessEntry Allow(std::wstring_view sid, std::uint32_t mask, bool inherit_only = false) {
    return AccessEntry{ClassifySid(sid, kMe), std::wstring(sid), true, mask, inherit_only};
}
AccessEntry Deny(std::wstring_view sid, std::uint32_t mask) {
    return AccessEntry{ClassifySid(sid, kMe), std::wstring(sid), false, mask, false};
}

SecurityFacts Facts(std::vector<AccessEntry> entries, std::wstring_view owner = kMe) {
    SecurityFacts facts;
    facts.owner_sid = owner;
    facts.owner = ClassifySid(owner, kMe);
    facts.entries = std::move(entries);
    return facts;
}

// What the companion leaves: the trusted three in full, Users may read.
SecurityFacts Tight(std::wstring_view owner = kMe) {
    return Facts({Allow(kMe, kFullControl), Allow(L"S-1-5-32-544", kFullControl),
                  Allow(L"S-1-5-18", kFullControl), Allow(L"S-1-5-32-545", kReadAndExecute)},
                 owner);
}

// What a folder a user creates at the root of the system drive inherits from it.
SecurityFacts InheritedFromDriveRoot() {
    return Facts({Allow(L"S-1-5-32-544", kFullControl), Allow(L"S-1-5-18", kFullControl),
                  Allow(L"S-1-5-32-545", kReadAndExecute), Allow(L"S-1-5-11", kModify),
                  Allow(L"S-1-3-0", 0x10000000, true)});
}

SecurityFacts Tweaked(SecurityFacts facts, void (*tweak)(SecurityFacts&)) {
    tweak(facts);
    return facts;
}

TEST(ClassifySidTest, TheTrustedAreTheUserAdministratorsAndSystem) {
    const struct {
        std::wstring_view sid;
        std::wstring_view user;
        Trustee kind;
    } cases[] = {
        {kMe, kMe, Trustee::CurrentUser},
        {L"s-1-5-21-1004336348-1177238915-682003330-1001", kMe, Trustee::CurrentUser},
        {kSomeoneElse, kMe, Trustee::Other},
        {L"S-1-5-32-544", kMe, Trustee::Administrators},
        {L"S-1-5-18", kMe, Trustee::LocalSystem},
        {L"S-1-3-0", kMe, Trustee::CreatorOwner},
        {L"S-1-3-4", kMe, Trustee::OwnerRights},
        {L"S-1-1-0", kMe, Trustee::Other},
        {L"S-1-5-11", kMe, Trustee::Other},
        {L"S-1-5-32-545", kMe, Trustee::Other},
        {L"S-1-5-32-5440", kMe, Trustee::Other},  // a prefix of a trusted SID is no match
        {L"", L"", Trustee::Other},                // an unknown user matches nobody
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sid.begin(), c.sid.end()));
        EXPECT_EQ(ClassifySid(c.sid, c.user), c.kind);
    }
}

TEST(CleanupDecisionTest, ElevatedLaunchesOnlyWhatNobodyElseMayChange) {
    const struct {
        const char* label;
        bool elevated;
        SecurityFacts directory;
        SecurityFacts script;
        bool launch;
        std::wstring named;  // in the reason when refused
    } cases[] = {
        {"not elevated: launched whatever the lists say", false, InheritedFromDriveRoot(),
         Facts({Allow(L"S-1-1-0", kFullControl)}, kSomeoneElse), true, L""},
        {"not elevated, no access lists at all", false,
         Tweaked(Tight(), [](SecurityFacts& f) { f.has_dacl = false; }),
         Tweaked(Tight(), [](SecurityFacts& f) { f.has_dacl = false; }), true, L""},
        {"both tight", true, Tight(), Tight(), true, L""},
        {"both tight, owned by Administrators and SYSTEM", true, Tight(L"S-1-5-32-544"),
         Tight(L"S-1-5-18"), true, L""},
        {"the directory as the drive root hands it down", true, InheritedFromDriveRoot(), Tight(),
         false, L"C:\\tmptk: Authenticated Users (S-1-5-11) may change it"},
        {"Everyone may write the script", true, Tight(),
         Facts({Allow(kMe, kFullControl), Allow(L"S-1-1-0", 0x0002)}), false,
         L"C:\\tmptk\\rundelay.bat: Everyone (S-1-1-0) may change it"},
        {"Users may append to the script", true, Tight(), Facts({Allow(L"S-1-5-32-545", 0x0004)}),
         false, L"Users (S-1-5-32-545)"},
        {"Users may add a sub-directory", true, Facts({Allow(L"S-1-5-32-545", 0x0004)}), Tight(),
         false, L"Users (S-1-5-32-545)"},
        {"another user may delete inside the directory", true,
         Facts({Allow(kSomeoneElse, 0x0040)}), Tight(), false, kSomeoneElse},
        {"another user may delete the script", true, Tight(), Facts({Allow(kSomeoneElse, 0x00010000)}),
         false, kSomeoneElse},
        {"another user may rewrite the script's list", true, Tight(),
         Facts({Allow(kSomeoneElse, 0x00040000)}), false, kSomeoneElse},
        {"another user may take the script over", true, Tight(),
         Facts({Allow(kSomeoneElse, 0x00080000)}), false, kSomeoneElse},
        {"generic write", true, Facts({Allow(L"S-1-5-11", 0x40000000)}), Tight(), false,
         L"S-1-5-11"},
        {"generic all", true, Tight(), Facts({Allow(L"S-1-1-0", 0x10000000)}), false, L"S-1-1-0"},
        {"the script belongs to another user", true, Tight(), Tight(kSomeoneElse), false,
         L"C:\\tmptk\\rundelay.bat: it belongs to " + kSomeoneElse},
        {"the directory belongs to Everyone", true, Tight(L"S-1-1-0"), Tight(), false,
         L"it belongs to Everyone (S-1-1-0)"},
        {"the directory has no access list", true,
         Tweaked(Tight(), [](SecurityFacts& f) { f.has_dacl = false; }), Tight(), false,
         L"C:\\tmptk: Everyone (S-1-1-0) may change it"},
        {"the directory is a link", true,
         Tweaked(Tight(), [](SecurityFacts& f) { f.is_link = true; }), Tight(), false,
         L"C:\\tmptk: it is a link"},
        {"unknown account that may write", true, Tight(), Facts({Allow(L"", 0x0002)}), false,
         L"an unknown account may change it"},
        // Entries that grant nobody else a change on the object itself.
        {"inherited only by what is created inside", true,
         Facts({Allow(kMe, kFullControl), Allow(L"S-1-5-11", kModify, true)}), Tight(), true, L""},
        {"everyone may read and run", true, Facts({Allow(L"S-1-1-0", kReadAndExecute)}),
         Facts({Allow(L"S-1-1-0", kReadAndExecute)}), true, L""},
        {"extended attributes are no content", true, Tight(),
         Facts({Allow(L"S-1-1-0", kWriteExtendedAttributes)}), true, L""},
        // Enough to put a reparse point on it, which makes it a link elsewhere.
        {"changing its attributes may make it a link", true, Tight(),
         Facts({Allow(L"S-1-1-0", kWriteAttributes)}), false, L"Everyone (S-1-1-0) may change it"},
        {"a deny entry refuses nothing", true, Facts({Deny(L"S-1-1-0", kFullControl)}), Tight(),
         true, L""},
        {"a deny entry does not excuse an allowing one", true,
         Facts({Deny(L"S-1-5-11", 0x0002), Allow(L"S-1-5-11", kModify)}), Tight(), false,
         L"S-1-5-11"},
        {"creator owner on the directory itself", true, Facts({Allow(L"S-1-3-0", kFullControl)}),
         Tight(), true, L""},
        {"creator owner as the owner", true, Tight(L"S-1-3-0"), Tight(), false, L"belongs to"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const CleanupDecision decision =
            DecideCleanupLaunch(c.elevated, c.directory, c.script, L"C:\\tmptk",
                                L"C:\\tmptk\\rundelay.bat");
        EXPECT_EQ(decision.launch, c.launch);
        EXPECT_EQ(decision.reason.empty(), c.launch) << Narrow(decision.reason);
        EXPECT_NE(decision.reason.find(c.named), std::wstring::npos) << Narrow(decision.reason);
    }
}

TEST(CleanupDecisionTest, BothAreNamedWhenBothAreOpen) {
    const CleanupDecision decision =
        DecideCleanupLaunch(true, InheritedFromDriveRoot(), Tight(kSomeoneElse), L"C:\\tmptk",
                            L"C:\\tmptk\\rundelay.bat");
    EXPECT_FALSE(decision.launch);
    EXPECT_EQ(decision.reason,
              L"C:\\tmptk: Authenticated Users (S-1-5-11) may change it.\r\n"
              L"C:\\tmptk\\rundelay.bat: it belongs to " + kSomeoneElse + L".");
}

// The guard the window asks at the close, with what a test wants it to say.
class FakeGuard : public LaunchGuard {
public:
    bool elevated = true;
    SecurityFacts directory = Tight();
    SecurityFacts script = Tight();
    std::optional<std::uint32_t> unreadable;  // SecurityOf(script) fails with this
    bool RunsElevated() override { return elevated; }
    SecurityFacts SecurityOf(const std::wstring& path) override {
        if (path == L"C:\\tmptk") return directory;
        if (path != L"C:\\tmptk\\rundelay.bat") throw Failure{87, L"Asked about", path};
        if (unreadable) throw Failure{*unreadable, L"Cannot open", path};
        return script;
    }
};

TEST(Form2UnloadTest, ElevatedCloseStartsTheScriptOnlyWhenNobodyElseMayChangeIt) {
    const struct {
        const char* label;
        bool elevated;
        SecurityFacts directory;
        std::optional<std::uint32_t> unreadable;
        std::optional<std::uint32_t> failure;  // nothing launched, this failure instead
        std::wstring_view said;                 // in the failure's subject
    } cases[] = {
        {"elevated, tight", true, Tight(), {}, {}, L""},
        {"not elevated, open to all", false, InheritedFromDriveRoot(), {}, {}, L""},
        {"elevated, open to all", true, InheritedFromDriveRoot(), {}, win_error::kAccessDenied,
         L"C:\\tmptk: Authenticated Users (S-1-5-11) may change it."},
        {"elevated, the script is missing", true, Tight(), win_error::kFileNotFound,
         win_error::kFileNotFound, L"C:\\tmptk\\rundelay.bat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakePlatform fake;
        FakeGuard guard;
        guard.elevated = c.elevated;
        guard.directory = c.directory;
        guard.unreadable = c.unreadable;
        fake.platform.launch_guard = &guard;
        std::int16_t cancel = 0;
        try {
            Form2(fake.platform, fake.board).Unload(cancel);
            EXPECT_FALSE(c.failure) << "the script was started";
            EXPECT_EQ(fake.log, EventLog{"launch C:\\tmptk\\rundelay.bat show=2"});
        } catch (const Failure& failure) {
            ASSERT_TRUE(c.failure) << Narrow(failure.action);
            EXPECT_EQ(failure.code, *c.failure);
            EXPECT_EQ(failure.subject, c.said);
            EXPECT_NE(failure.action.find(L"clean-up script was not started"), std::wstring::npos);
            EXPECT_TRUE(fake.log.empty()) << "something was launched";
        }
        EXPECT_EQ(cancel, 0);
    }
}

}  // namespace
}  // namespace qtk::testing
