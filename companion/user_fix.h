// Applying a fix plan to the examined user's own hive, and putting it back.
//
// Before the first value changes, every value the fix will touch is recorded as it is
// (absent, or its type and data) with what the fix will set, and the keys the fix will
// create; the caller writes that record to the undo file and flushes it, and only then are
// the values set, one RegSetValueEx each. A single value write is all or nothing in the
// registry, so a fix stopped part-way leaves each value old or new, and the record
// covers both: an undo puts back a value that holds the new data and leaves one that
// still holds the old.
//
// An undo file is refused when it is not one of ours (its format tag, version and check
// sum), names a key a fix never changes, or was made for another user; and, unless forced,
// when a value holds neither what the fix found nor what it set (somebody changed it since),
// naming each such value, with nothing changed. Forced, those values too are put back.
//
// The fix only ever changes, under the user's own hive:
//   Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains\... (sites)
//   Software\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\2 (Trusted sites zone)
//   Software\Microsoft\Internet Explorer\New Windows\Allow (pop-up blocker's allowed sites)
// and creates keys only on the way to those; nothing under Software\Policies, ever.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/fix_plan.h"
#include "platform/failure.h"

namespace qtk::companion {

// The registry's value types the fix meets (winnt.h).
namespace reg_type {
inline constexpr std::uint32_t kString = 1;        // REG_SZ
inline constexpr std::uint32_t kExpandString = 2;  // REG_EXPAND_SZ
inline constexpr std::uint32_t kBinary = 3;        // REG_BINARY
inline constexpr std::uint32_t kDword = 4;         // REG_DWORD
}  // namespace reg_type

struct RawValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    bool operator==(const RawValue&) const = default;
};

// The examined user's hive, writable: HKEY_CURRENT_USER for the process's own user, else
// HKEY_USERS\<SID>. Paths are relative to the hive. Every call answers with a Windows
// error number; kFileNotFound for a value or key that is not there.
class UserHive {
public:
    virtual ~UserHive() = default;
    virtual long ReadValue(std::wstring_view key, std::wstring_view name, RawValue* value) = 0;
    virtual long KeyExists(std::wstring_view key, bool* exists) = 0;
    // Creates the key, and those above it, when missing.
    virtual long SetValue(std::wstring_view key, std::wstring_view name, const RawValue& value) = 0;
    // Success also when the value is already gone.
    virtual long DeleteValue(std::wstring_view key, std::wstring_view name) = 0;
    // Removes the key only when it has neither values nor sub-keys; success when it is
    // gone, or left because something is in it.
    virtual long DeleteKeyIfEmpty(std::wstring_view key) = 0;
};

struct UndoValue {
    std::string row_id;
    std::wstring key;
    std::wstring name;
    std::optional<RawValue> old;  // nothing: the value was absent
    RawValue now;                 // what the fix sets
};

struct UndoRecord {
    std::wstring user_sid;
    std::wstring computer_name;
    std::string made_utc;
    std::vector<std::wstring> created_keys;  // top-down: a parent before its children
    std::vector<UndoValue> values;
};

// Whether key is one a fix may change a value in (the three places above).
bool IsFixableKey(std::wstring_view key);

// The plan's changes as they would be made now: each value read as it is, a change whose
// value already holds the new data dropped, and the keys that are missing on the way.
// record's user, computer and time are the caller's.
std::optional<Failure> RecordUndo(const FixPlan& plan, UserHive& hive, UndoRecord* record);

std::string UndoFileText(const UndoRecord& record);

struct ParsedUndo {
    std::optional<UndoRecord> record;
    std::wstring error;  // why the file is refused, for a person
};
ParsedUndo ParseUndoFile(std::string_view bytes);

struct Applied {
    std::size_t values = 0;  // how many values were set (or put back)
    std::optional<Failure> failure;
};

// Sets each recorded value; after_each (the end-to-end tests' fault hook) is told how many
// are done. Stops at the first failure.
Applied ApplyFix(const UndoRecord& record, UserHive& hive,
                 const std::function<void(std::size_t)>& after_each = {});

enum class ValueNow { AsFixSetIt, AsBefore, ChangedSince };

struct UndoState {
    std::vector<ValueNow> values;  // one per record.values
    std::optional<Failure> failure;
    std::vector<std::wstring> ChangedSince(const UndoRecord& record) const;
};
UndoState InspectUndo(const UndoRecord& record, UserHive& hive);

// Puts back every value the fix set (in reverse order), and with force also those changed
// since; then removes the keys the fix created, if empty. Call only when InspectUndo had
// no failure and, unless forced, nothing changed since.
Applied ApplyUndo(const UndoRecord& record, const UndoState& state, UserHive& hive, bool force);

// What --what-if prints: what a fix would change now, one line a value ("key value name:
// old -> new [row]"), as record (from RecordUndo) has it, then the rows left alone and why.
// user_root ("HKU\S-1-5-21-...") names the hive when it is not the process's own HKCU.
std::wstring FixPlanText(const FixPlan& plan, const UndoRecord& record, std::wstring_view user_root);

// What a fix did, for a person: where the undo file is, each value changed (old -> new),
// the rows now passing, those left alone and why, those still failing; and last one line
// for a management system's log. applied: how many of record's values were set.
std::wstring FixOutcomeText(const FixPlan& plan, const UndoRecord& record, std::size_t applied,
                            const std::vector<CheckResult>& after, std::wstring_view undo_path,
                            std::wstring_view user_root);

// "absent", "REG_DWORD 2", "REG_SZ \"x\"", "type 3, 2 bytes".
std::wstring ValueText(const std::optional<RawValue>& value);

// "HKCU\<key> value <name>" with user_root in place of HKCU when it is given.
std::wstring ValuePlace(std::wstring_view key, std::wstring_view name, std::wstring_view user_root);

}  // namespace qtk::companion
