// The board as text: where each status word stands, the names a screen reader hears and
// the text "Copy results" puts on the clipboard.
#include "app/board.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "checks/contract.h"
#include "fakes.h"

namespace qtk::testing {
namespace {

const StatusPlace& PlaceOf(std::string_view label) {
    for (const StatusPlace& p : StatusPlaces()) {
        if (p.label == label) return p;
    }
    throw std::runtime_error("no place for " + std::string(label));
}

TEST(StatusPlacesTest, EveryCheckedLabelOnceWithItsRowAndColumn) {
    std::set<std::string> checked;
    for (const CheckGroup& group : CheckGroups()) {
        for (const CheckRow& row : group.rows) checked.emplace(row.label);
    }
    std::set<std::string> placed;
    for (const StatusPlace& p : StatusPlaces()) {
        SCOPED_TRACE(p.label);
        EXPECT_TRUE(placed.insert(p.label).second) << "twice";
        EXPECT_FALSE(p.frame.empty());
        EXPECT_FALSE(p.row.empty());
    }
    EXPECT_EQ(placed, checked);
}

TEST(StatusPlacesTest, RowsAndColumnsAreTheTextsBesideAndAbove) {
    const struct {
        const char* label;
        const wchar_t* frame;
        const wchar_t* row;
        const wchar_t* column;
    } cases[] = {
        {"userteskquorin", L"Trusted Sites", L"https://tesk.qrn.example", L"USER"},
        {"mteskquorin", L"Trusted Sites", L"https://tesk.qrn.example", L"MACHINE"},
        {"momvar", L"Trusted Sites", L"http://*.omvar.example", L"MACHINE"},
        {"sam_install", L"Software Install", L"SafeNet Authentication Manager Client 8.0 SP2",
         L""},
        {"rplugin", L"Security level Script Setting for Trusted sites zone",
         L"Run ActiveX control and Plug-ins", L"USER"},
        {"minitscript", L"Security level Script Setting for Trusted sites zone",
         L"Initialize and script ActiveX controls..", L"MACHINE"},
        {"ptelmira", L"Pop-up Blocker Setting", L"telmira.qrn.example", L"Setting"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const StatusPlace& p = PlaceOf(c.label);
        EXPECT_EQ(p.frame, c.frame);
        EXPECT_EQ(p.row, c.row);
        EXPECT_EQ(p.column, c.column);
    }
}

TEST(AccessibleNameTest, SaysWhichCheckAndWhatItShows) {
    const struct {
        const char* label;
        const wchar_t* word;
        const wchar_t* name;
    } cases[] = {
        {"userteskquorin", L"Success", L"tesk.qrn.example, USER: Success"},
        {"mhalvekgo", L"Fail", L"*.halvek.example, MACHINE: Fail"},
        {"mpelund", L"-", L"*.pelund.example, MACHINE: -"},
        {"sac_install", L"Success", L"SafeNet Authentication Client 8.2: Success"},
        {"jscript", L"Disable", L"Scripting of Java applets, USER: Disable"},
        {"pbrimmel", L"Fail", L"brimmel.qrn.example, Setting: Fail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(AccessibleName(PlaceOf(c.label), c.word), c.name);
    }
}

TEST(BoardTextTest, TitleIdentityThenOneTabSeparatedLinePerWord) {
    const StatusResult results[] = {
        {&PlaceOf("userteskquorin"), L"Success", L""},
        {&PlaceOf("mpelund"), L"-", L"access denied (error 5) reading HKLM\\x"},
        {&PlaceOf("sam_install"), L"Fail", L"not installed"},
    };
    EXPECT_EQ(BoardText(L"Title \u0E23", L"PC-1", L"Windows 10 Pro", results),
              L"Title \u0E23\r\n"
              L"Computer Name\tPC-1\r\n"
              L"OS\tWindows 10 Pro\r\n"
              L"Trusted Sites\thttps://tesk.qrn.example\tUSER\tSuccess\r\n"
              L"Trusted Sites\thttps://*.pelund.example\tMACHINE\t-\t"
              L"access denied (error 5) reading HKLM\\x\r\n"
              L"Software Install\tSafeNet Authentication Manager Client 8.0 SP2\t\tFail\t"
              L"not installed\r\n");
}

// A registry value or a reason with a tab or line end must not shift a spreadsheet's
// columns or start a line of its own.
TEST(BoardTextTest, SeparatorsInsideTextsBecomeBlanks) {
    const StatusResult results[] = {{&PlaceOf("ptesk"), L"Success", L"a\tb\r\nc"}};
    const std::wstring text = BoardText(L"T", L"PC\t1", L"OS\r\nline", results);
    EXPECT_EQ(text, L"T\r\nComputer Name\tPC 1\r\nOS\tOS  line\r\n"
                    L"Pop-up Blocker Setting\ttesk.qrn.example\tSetting\tSuccess\ta b  c\r\n");
}

}  // namespace
}  // namespace qtk::testing
