// Whether C:\tmptk\ may be used as it is, must have its access list rewritten, or must be
// refused, judged from the facts of its security descriptor.
#include "companion/directory_acl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qtk::companion {
namespace {

const std::wstring kMe = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kSomeoneElse = L"S-1-5-21-1004336348-1177238915-682003330-1002";

struct Ace {
    std::wstring sid;
    std::uint32_t mask = 0;
    bool inherit_only = false;
    bool allows = true;
    // As the drive root's entries and the companion's own are: (OI)(CI).
    bool handed_down = true;
};

Ace Allow(std::wstring sid, std::uint32_t mask, bool inherit_only = false) {
    return Ace{std::move(sid), mask, inherit_only};
}

// The facts as the Win32 side reads them for a process running as user.
DirectoryFacts Owned(std::vector<Ace> aces, std::wstring owner = kMe,
                     std::wstring_view user = kMe) {
    DirectoryFacts facts;
    facts.security.owner = ClassifySid(owner, user);
    facts.security.owner_sid = std::move(owner);
    for (Ace& ace : aces) {
        const Trustee trustee = ClassifySid(ace.sid, user);
        facts.security.entries.push_back(AccessEntry{trustee, std::move(ace.sid), ace.allows,
                                                     ace.mask, ace.inherit_only, ace.handed_down});
    }
    return facts;
}

namespace change = qtk::change_right;

// What a folder made by a user at the root of the system drive inherits from it.
DirectoryFacts InheritedFromDriveRoot() {
    return Owned({
        Allow(L"S-1-5-32-544", rights::kFullControl),
        Allow(L"S-1-5-18", rights::kFullControl),
        Allow(L"S-1-5-32-545", rights::kReadAndExecute),
        Allow(L"S-1-5-11", 0x001301BF),  // Authenticated Users: modify
        Allow(L"S-1-3-0", change::kGenericAll, true),
    });
}

TEST(DirectoryAcl, JudgesWhoMayWrite) {
    const struct {
        const char* label;
        DirectoryFacts facts;
        DirectoryAction action;
        std::vector<std::wstring> writers;
        bool owner_untrusted = false;
    } cases[] = {
        {"only the trusted three write, Users read",
         Owned({Allow(kMe, rights::kFullControl), Allow(L"S-1-5-32-544", rights::kFullControl),
                Allow(L"S-1-5-18", rights::kFullControl),
                Allow(L"S-1-5-32-545", rights::kReadAndExecute)}),
         DirectoryAction::Use, {}},
        {"what the drive root hands down", InheritedFromDriveRoot(), DirectoryAction::Tighten,
         {L"S-1-5-11"}},
        {"Everyone may write", Owned({Allow(L"S-1-1-0", change::kWriteData)}),
         DirectoryAction::Tighten, {L"S-1-1-0"}},
        {"Users may add a sub-directory", Owned({Allow(L"S-1-5-32-545", change::kAppendData)}),
         DirectoryAction::Tighten, {L"S-1-5-32-545"}},
        {"another user may delete", Owned({Allow(kSomeoneElse, change::kDelete)}),
         DirectoryAction::Tighten, {kSomeoneElse}},
        {"generic write", Owned({Allow(L"S-1-5-32-545", change::kGenericWrite)}),
         DirectoryAction::Tighten, {L"S-1-5-32-545"}},
        {"generic all", Owned({Allow(L"S-1-1-0", change::kGenericAll)}), DirectoryAction::Tighten,
         {L"S-1-1-0"}},
        {"may change the access list", Owned({Allow(L"S-1-1-0", change::kWriteDac)}),
         DirectoryAction::Tighten, {L"S-1-1-0"}},
        {"inherited only by what is created inside",
         Owned({Allow(L"S-1-5-11", change::kGenericWrite, true)}), DirectoryAction::Tighten,
         {L"S-1-5-11"}},
        {"reading is no writing", Owned({Allow(L"S-1-1-0", rights::kReadAndExecute)}),
         DirectoryAction::Use, {}},
        {"a deny entry takes nothing away from the judgement",
         Owned({Ace{L"S-1-1-0", rights::kFullControl, false, false}}),
         DirectoryAction::Use, {}},
        // Where the directory's model and the diagnostic's used to disagree.
        {"OWNER RIGHTS is the owner, who is trusted",
         Owned({Allow(std::wstring(sids::kOwnerRights), rights::kFullControl)}),
         DirectoryAction::Use, {}},
        {"extended attributes change nothing", Owned({Allow(L"S-1-1-0", 0x0010)}),
         DirectoryAction::Use, {}},
        {"changing attributes may make it a link",
         Owned({Allow(L"S-1-1-0", change::kWriteAttributes)}), DirectoryAction::Tighten,
         {L"S-1-1-0"}},
        {"an inherit-only entry handed down to nothing applies nowhere",
         Owned({Ace{L"S-1-5-11", change::kWriteData, true, true, false}}), DirectoryAction::Use,
         {}},
        {"each writer named once, in order",
         Owned({Allow(L"S-1-5-11", change::kWriteData), Allow(L"S-1-1-0", change::kDelete),
                Allow(L"S-1-5-11", change::kAppendData)}),
         DirectoryAction::Tighten, {L"S-1-5-11", L"S-1-1-0"}},
        {"the creator of what is inside is trusted",
         Owned({Allow(L"S-1-3-0", change::kGenericAll, true)}), DirectoryAction::Use, {}},
        {"owned by Administrators", Owned({}, L"S-1-5-32-544"), DirectoryAction::Use, {}},
        {"owned by SYSTEM", Owned({}, L"S-1-5-18"), DirectoryAction::Use, {}},
        // Refused as found: tightening first would change someone else's directory.
        {"owned by someone else", Owned({Allow(kMe, rights::kFullControl)}, kSomeoneElse),
         DirectoryAction::Refuse, {}, true},
        {"owned by someone else and open to everyone",
         Owned({Allow(L"S-1-1-0", change::kWriteData)}, kSomeoneElse), DirectoryAction::Refuse,
         {L"S-1-1-0"}, true},
        {"owned by the creator-owner placeholder", Owned({}, L"S-1-3-0"),
         DirectoryAction::Refuse, {}, true},
        {"SIDs compare without regard to case",
         Owned({Allow(L"s-1-5-32-544", rights::kFullControl)}, L"s-1-5-18"), DirectoryAction::Use,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const DirectoryJudgement judgement = JudgeDirectory(c.facts);
        EXPECT_EQ(judgement.action, c.action);
        EXPECT_EQ(judgement.writers, c.writers);
        EXPECT_EQ(judgement.owner_untrusted, c.owner_untrusted);
        EXPECT_EQ(judgement.reason.empty(), c.action == DirectoryAction::Use);
        for (const std::wstring& writer : c.writers) {
            EXPECT_NE(judgement.reason.find(writer), std::wstring::npos);
        }
    }
}

TEST(DirectoryAcl, NoAccessListLetsEveryoneWrite) {
    DirectoryFacts facts = Owned({});
    facts.security.has_dacl = false;
    const DirectoryJudgement judgement = JudgeDirectory(facts);
    EXPECT_EQ(judgement.action, DirectoryAction::Tighten);
    EXPECT_EQ(judgement.writers, std::vector<std::wstring>{L"S-1-1-0"});
}

TEST(DirectoryAcl, RefusesWhatIsNoPlainDirectory) {
    DirectoryFacts link = Owned({});
    link.security.is_link = true;
    EXPECT_EQ(JudgeDirectory(link).action, DirectoryAction::Refuse);
    DirectoryFacts file = Owned({});
    file.is_directory = false;
    EXPECT_EQ(JudgeDirectory(file).action, DirectoryAction::Refuse);
    // A link without the reparse attribute, found out by where the open handle leads.
    DirectoryFacts elsewhere = InheritedFromDriveRoot();
    elsewhere.leads_elsewhere = L"\\\\?\\Z:\\tmp\\other";
    const DirectoryJudgement judgement = JudgeDirectory(elsewhere);
    EXPECT_EQ(judgement.action, DirectoryAction::Refuse);
    EXPECT_NE(judgement.reason.find(L"Z:\\tmp\\other"), std::wstring::npos);
}

// The list the companion writes must pass its own judgement, or it would tighten forever.
TEST(DirectoryAcl, TheListItWritesIsOneItAccepts) {
    for (const std::wstring& user : {kMe, std::wstring(L"S-1-5-21-0-0-0-1000")}) {
        SCOPED_TRACE(std::string(user.begin(), user.end()));
        std::vector<Ace> written;
        for (const AceSpec& ace : DesiredDacl(user)) written.push_back(Allow(ace.sid, ace.mask));
        EXPECT_EQ(JudgeDirectory(Owned(written, user, user)).action, DirectoryAction::Use);
        // ... and it still lets others read.
        bool users_read = false;
        for (const AceSpec& ace : DesiredDacl(user)) {
            if (ace.sid == sids::kUsers) users_read = (ace.mask & 0x1) != 0 && (ace.mask & change::kAny) == 0;
        }
        EXPECT_TRUE(users_read);
        // The same directory is someone else's for another user.
        EXPECT_EQ(JudgeDirectory(Owned(written, user, kSomeoneElse)).action,
                  DirectoryAction::Refuse);
    }
}

}  // namespace
}  // namespace qtk::companion
