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

AceFact Allow(std::wstring sid, std::uint32_t mask, bool inherit_only = false) {
    return AceFact{AceKind::Allow, std::move(sid), mask, inherit_only};
}

DirectoryFacts Owned(std::vector<AceFact> aces, std::wstring owner = kMe) {
    DirectoryFacts facts;
    facts.owner_sid = std::move(owner);
    facts.aces = std::move(aces);
    return facts;
}

// What a folder made by a user at the root of the system drive inherits from it.
DirectoryFacts InheritedFromDriveRoot() {
    return Owned({
        Allow(L"S-1-5-32-544", rights::kFullControl),
        Allow(L"S-1-5-18", rights::kFullControl),
        Allow(L"S-1-5-32-545", rights::kReadAndExecute),
        Allow(L"S-1-5-11", 0x001301BF),  // Authenticated Users: modify
        Allow(L"S-1-3-0", rights::kGenericAll, true),
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
        {"Everyone may write", Owned({Allow(L"S-1-1-0", rights::kWriteData)}),
         DirectoryAction::Tighten, {L"S-1-1-0"}},
        {"Users may add a sub-directory", Owned({Allow(L"S-1-5-32-545", rights::kAppendData)}),
         DirectoryAction::Tighten, {L"S-1-5-32-545"}},
        {"another user may delete", Owned({Allow(kSomeoneElse, rights::kDelete)}),
         DirectoryAction::Tighten, {kSomeoneElse}},
        {"generic write", Owned({Allow(L"S-1-5-32-545", rights::kGenericWrite)}),
         DirectoryAction::Tighten, {L"S-1-5-32-545"}},
        {"generic all", Owned({Allow(L"S-1-1-0", rights::kGenericAll)}), DirectoryAction::Tighten,
         {L"S-1-1-0"}},
        {"may change the access list", Owned({Allow(L"S-1-1-0", rights::kWriteDac)}),
         DirectoryAction::Tighten, {L"S-1-1-0"}},
        {"inherited only by what is created inside",
         Owned({Allow(L"S-1-5-11", rights::kGenericWrite, true)}), DirectoryAction::Tighten,
         {L"S-1-5-11"}},
        {"reading is no writing", Owned({Allow(L"S-1-1-0", rights::kReadAndExecute)}),
         DirectoryAction::Use, {}},
        {"a deny entry takes nothing away from the judgement",
         Owned({AceFact{AceKind::Deny, L"S-1-1-0", rights::kFullControl, false}}),
         DirectoryAction::Use, {}},
        {"a conditional allowing entry counts as allowing",
         Owned({AceFact{AceKind::OtherAllow, L"S-1-5-11", rights::kWriteData, false}}),
         DirectoryAction::Tighten, {L"S-1-5-11"}},
        {"each writer named once, in order",
         Owned({Allow(L"S-1-5-11", rights::kWriteData), Allow(L"S-1-1-0", rights::kDelete),
                Allow(L"S-1-5-11", rights::kAppendData)}),
         DirectoryAction::Tighten, {L"S-1-5-11", L"S-1-1-0"}},
        {"the creator of what is inside is trusted",
         Owned({Allow(L"S-1-3-0", rights::kGenericAll, true)}), DirectoryAction::Use, {}},
        {"owned by Administrators", Owned({}, L"S-1-5-32-544"), DirectoryAction::Use, {}},
        {"owned by SYSTEM", Owned({}, L"S-1-5-18"), DirectoryAction::Use, {}},
        // Refused as found: tightening first would change someone else's directory.
        {"owned by someone else", Owned({Allow(kMe, rights::kFullControl)}, kSomeoneElse),
         DirectoryAction::Refuse, {}, true},
        {"owned by someone else and open to everyone",
         Owned({Allow(L"S-1-1-0", rights::kWriteData)}, kSomeoneElse), DirectoryAction::Refuse,
         {L"S-1-1-0"}, true},
        {"owned by the creator-owner placeholder", Owned({}, L"S-1-3-0"),
         DirectoryAction::Refuse, {}, true},
        {"SIDs compare without regard to case",
         Owned({Allow(L"s-1-5-32-544", rights::kFullControl)}, L"s-1-5-18"), DirectoryAction::Use,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const DirectoryJudgement judgement = JudgeDirectory(c.facts, kMe);
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
    facts.has_dacl = false;
    const DirectoryJudgement judgement = JudgeDirectory(facts, kMe);
    EXPECT_EQ(judgement.action, DirectoryAction::Tighten);
    EXPECT_EQ(judgement.writers, std::vector<std::wstring>{L"S-1-1-0"});
}

TEST(DirectoryAcl, RefusesWhatIsNoPlainDirectory) {
    DirectoryFacts link = Owned({});
    link.is_reparse_point = true;
    EXPECT_EQ(JudgeDirectory(link, kMe).action, DirectoryAction::Refuse);
    DirectoryFacts file = Owned({});
    file.is_directory = false;
    EXPECT_EQ(JudgeDirectory(file, kMe).action, DirectoryAction::Refuse);
    // A link without the reparse attribute, found out by where the open handle leads.
    DirectoryFacts elsewhere = InheritedFromDriveRoot();
    elsewhere.leads_elsewhere = L"\\\\?\\Z:\\tmp\\other";
    const DirectoryJudgement judgement = JudgeDirectory(elsewhere, kMe);
    EXPECT_EQ(judgement.action, DirectoryAction::Refuse);
    EXPECT_NE(judgement.reason.find(L"Z:\\tmp\\other"), std::wstring::npos);
}

// The list the companion writes must pass its own judgement, or it would tighten forever.
TEST(DirectoryAcl, TheListItWritesIsOneItAccepts) {
    for (const std::wstring& user : {kMe, std::wstring(L"S-1-5-21-0-0-0-1000")}) {
        SCOPED_TRACE(std::string(user.begin(), user.end()));
        DirectoryFacts facts = Owned({}, user);
        facts.dacl_protected = true;
        for (const AceSpec& ace : DesiredDacl(user)) facts.aces.push_back(Allow(ace.sid, ace.mask));
        EXPECT_EQ(JudgeDirectory(facts, user).action, DirectoryAction::Use);
        // ... and it still lets others read.
        bool users_read = false;
        for (const AceSpec& ace : DesiredDacl(user)) {
            if (ace.sid == sids::kUsers) users_read = (ace.mask & 0x1) != 0 && (ace.mask & rights::kAnyWrite) == 0;
        }
        EXPECT_TRUE(users_read);
        // The same directory is someone else's for another user.
        EXPECT_EQ(JudgeDirectory(facts, kSomeoneElse).action, DirectoryAction::Refuse);
    }
}

}  // namespace
}  // namespace qtk::companion
