// The fix applied to the user's hive and put back from its undo file: exactly what was
// there returns, a fix cut short is covered, and a file that is not ours, names a key a fix
// never changes, or whose values were changed since is refused with nothing changed.
#include "companion/user_fix.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "companion/examination.h"
#include "fake_registry.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;

const std::wstring kSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::wstring kAllow = L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

UndoRecord Record(FakeRegistrySource& registry) {
    UndoRecord record{L"S-1-5-21-1-2-3-1001", L"DESK-7", "2026-12-08T10:00:00.000Z", {}, {}};
    const std::optional<Failure> failure =
        RecordUndo(PlanFix(ExamineWorkstation(registry), registry), registry, &record);
    EXPECT_FALSE(failure.has_value());
    return record;
}

// What the user had before; each start leaves some values for the fix to change and some
// keys for it to create.
const struct Start {
    const char* label;
    std::function<void(FakeRegistrySource&)> setup;
} kStarts[] = {
    {"nothing of the browser's",
     [](auto& r) { r.AddKey(Hive::CurrentUser, View::Native, L"Software\\Microsoft"); }},
    {"a zone setting at Disable, a domain key with a value of its own",
     [](auto& r) {
         r.SetDword(Hive::CurrentUser, View::Native, kSettings + L"\\Zones\\2", L"1400", 3);
         r.SetDword(Hive::CurrentUser, View::Native, kSettings + L"\\ZoneMap\\Domains\\qrn.example",
                    L"http", 4);
     }},
    {"a pop-up host as a string, a site in the Restricted zone",
     [](auto& r) {
         r.SetString(Hive::CurrentUser, View::Native, kAllow, L"tesk.qrn.example", L"x");
         r.SetDword(Hive::CurrentUser, View::Native,
                    kSettings + L"\\ZoneMap\\Domains\\qrn.example\\tesk", L"https", 4);
     }},
};

TEST(UserFix, FixPassesTheRowsAndItsUndoFilePutsBackExactlyWhatWasThere) {
    for (const Start& start : kStarts) {
        SCOPED_TRACE(start.label);
        FakeRegistrySource registry;
        start.setup(registry);
        const std::wstring before = registry.UserExport();
        const UndoRecord record = Record(registry);
        ASSERT_FALSE(record.values.empty());
        const std::string file = UndoFileText(record);

        const Applied fixed = ApplyFix(record, registry);
        ASSERT_FALSE(fixed.failure.has_value());
        EXPECT_EQ(fixed.values, record.values.size());
        for (const CheckResult& row : ExamineWorkstation(registry)) {
            if (row.scope == RowScope::User && row.group != kSoftwareGroup) {
                EXPECT_EQ(row.verdict, RowVerdict::Pass) << row.id << ": " << Narrow(row.reason);
            }
        }
        EXPECT_TRUE(Record(registry).values.empty()) << "a second fix finds nothing to do";

        const ParsedUndo parsed = ParseUndoFile(file);
        ASSERT_TRUE(parsed.record.has_value()) << Narrow(parsed.error);
        EXPECT_EQ(Narrow(parsed.record->user_sid), "S-1-5-21-1-2-3-1001");
        const UndoState state = InspectUndo(*parsed.record, registry);
        EXPECT_TRUE(state.ChangedSince(*parsed.record).empty());
        const Applied undone = ApplyUndo(*parsed.record, state, registry, false);
        ASSERT_FALSE(undone.failure.has_value());
        EXPECT_EQ(Narrow(registry.UserExport()), Narrow(before));
    }
}

// Killed after any number of values, the fix leaves each value old or new; its undo file,
// written before the first, brings back the start.
TEST(UserFix, AFixCutShortIsUndoneToTheStart) {
    struct Killed {};
    FakeRegistrySource probe;
    const std::size_t total = Record(probe).values.size();
    for (std::size_t cut = 0; cut <= total; ++cut) {
        SCOPED_TRACE("killed after " + std::to_string(cut) + " of " + std::to_string(total));
        FakeRegistrySource registry;
        kStarts[1].setup(registry);
        const std::wstring before = registry.UserExport();
        const UndoRecord record = Record(registry);
        const std::string file = UndoFileText(record);
        try {
            ApplyFix(record, registry, [&](std::size_t done) {
                if (done == cut) throw Killed{};
            });
        } catch (const Killed&) {
        }
        const ParsedUndo parsed = ParseUndoFile(file);
        ASSERT_TRUE(parsed.record.has_value());
        const UndoState state = InspectUndo(*parsed.record, registry);
        EXPECT_TRUE(state.ChangedSince(*parsed.record).empty());
        ASSERT_FALSE(ApplyUndo(*parsed.record, state, registry, false).failure.has_value());
        EXPECT_EQ(Narrow(registry.UserExport()), Narrow(before));
    }
}

TEST(UserFix, AValueChangedSinceIsNamedAndKeptUnlessForced) {
    FakeRegistrySource registry;
    const UndoRecord record = Record(registry);
    ASSERT_FALSE(ApplyFix(record, registry).failure.has_value());
    registry.SetDword(Hive::CurrentUser, View::Native, kSettings + L"\\Zones\\2", L"1400", 1);
    const std::wstring fixed = registry.UserExport();

    const UndoState state = InspectUndo(record, registry);
    const std::vector<std::wstring> changed = state.ChangedSince(record);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(Narrow(changed[0]), Narrow(L"HKCU\\" + kSettings + L"\\Zones\\2 value 1400"));
    // The caller refuses on that list; forced, the changed value goes back too.
    ASSERT_FALSE(ApplyUndo(record, state, registry, true).failure.has_value());
    RawValue value;
    EXPECT_EQ(registry.ReadValue(kSettings + L"\\Zones\\2", L"1400", &value), win_error::kFileNotFound);
    EXPECT_NE(Narrow(registry.UserExport()), Narrow(fixed));
}

TEST(UserFix, AFailedWriteStopsTheFixAndSaysWhere) {
    FakeRegistrySource registry;
    registry.DenyWrite(kSettings + L"\\Zones\\2");
    const UndoRecord record = Record(registry);
    const Applied applied = ApplyFix(record, registry);
    ASSERT_TRUE(applied.failure.has_value());
    EXPECT_EQ(applied.failure->code, 5u);
    EXPECT_NE(Narrow(applied.failure->subject).find("\\Zones\\2 value "), std::string::npos);
    EXPECT_LT(applied.values, record.values.size());
}

TEST(UserFix, OnlyTheThreePlacesAreFixable) {
    const struct {
        std::wstring key;
        bool fixable;
    } cases[] = {
        {kSettings + L"\\ZoneMap\\Domains\\qrn.example", true},
        {kSettings + L"\\ZoneMap\\Domains\\qrn.example\\*.hvk", true},
        {L"SOFTWARE\\MICROSOFT\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2", true},
        {kAllow, true},
        {kSettings + L"\\ZoneMap\\Domains\\qrn.example\\a\\b", false},
        {kSettings + L"\\ZoneMap\\Domains\\qrn.example\\..\\..\\Zones\\4", false},
        {kSettings + L"\\ZoneMap\\Domains\\", false},
        {kSettings + L"\\ZoneMap\\Domains\\\\x", false},
        {kSettings + L"\\Zones\\4", false},
        {kSettings + L"\\ZoneMap\\EscDomains\\qrn.example", false},
        {L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2", false},
        {L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsFixableKey(c.key), c.fixable) << Narrow(c.key);
    }
}

TEST(UserFix, AnUndoFileNotOursOrNamingOtherKeysIsRefused) {
    FakeRegistrySource registry;
    const UndoRecord good = Record(registry);
    const std::string text = UndoFileText(good);
    UndoRecord other_key = good;
    other_key.values[0].key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    UndoRecord other_created = good;
    other_created.created_keys.push_back(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    std::string edited = text;
    edited.replace(edited.find("S-1-5-21-1-2-3-1001"), 19, "S-1-5-21-1-2-3-1002");
    std::string other_version = text;
    other_version.replace(other_version.find("\"version\": 1"), 12, "\"version\": 9");
    const struct {
        const char* label;
        std::string bytes;
        const char* why;
    } cases[] = {
        {"not JSON", "tkexamine undo", "not an undo file"},
        {"another program's JSON", "{\"format\": \"x\", \"values\": []}", "not an undo file"},
        {"cut short", text.substr(0, text.size() / 2), "not an undo file"},
        {"edited", edited, "check sum"},
        {"another version", other_version, "another version"},
        {"a value outside the fixable keys", UndoFileText(other_key), "never changes"},
        {"a created key outside them", UndoFileText(other_created), "never creates"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ParsedUndo parsed = ParseUndoFile(c.bytes);
        EXPECT_FALSE(parsed.record.has_value());
        EXPECT_NE(Narrow(parsed.error).find(c.why), std::string::npos) << Narrow(parsed.error);
    }
}

// Names come back from the file as they went in, and bytes that are not UTF-8 make it
// somebody else's file.
TEST(UserFix, UndoFileTextIsStrictUtf8) {
    const struct {
        std::string bytes;
        std::optional<std::wstring> text;
    } cases[] = {
        {"DESK-7", L"DESK-7"},
        {"\xc3\xa9\xe2\x82\xac", std::wstring{L'\u00e9', L'\u20ac'}},
        {"\xf0\x9f\x94\x91", L"\U0001F511"},  // a pair of surrogates where wchar_t is 16 bits
        {"\xc0\xaf", std::nullopt},          // overlong '/'
        {"\xed\xa0\x80", std::nullopt},      // a surrogate
        {"\xe2\x82", std::nullopt},          // cut short
        {"\x80", std::nullopt},              // a lone continuation byte
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FromUtf8(c.bytes), c.text) << c.bytes;
    }
}

}  // namespace
}  // namespace qtk::companion
