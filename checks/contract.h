// What the diagnostic and the companion agree on, and nothing else: where the files live,
// what each is called, the words their first field may hold, and the ordered check groups
// with their rows. Both programs take every one of these from here; neither knows the
// other's internals. A literal of the contract is spelled in this header or in
// checks/tables.cpp (the rows' file names), once.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace qtk {

// A word of the contract, spelled once and usable both as the bytes the companion writes
// and as the UTF-16 text the diagnostic compares a field with. ASCII only, so both
// spellings are the same characters.
template <std::size_t N>
struct ContractWord {
    char narrow[N]{};
    wchar_t wide[N]{};
    consteval ContractWord(const char (&text)[N]) {
        for (std::size_t i = 0; i < N; ++i) {
            narrow[i] = text[i];
            wide[i] = static_cast<wchar_t>(text[i]);
        }
    }
    constexpr std::string_view bytes() const { return {narrow, N - 1}; }
    constexpr std::wstring_view text() const { return {wide, N - 1}; }
};

inline constexpr std::wstring_view kMarkerDirectory = L"C:\\tmptk\\";
// The same directory as a path of its own, without the separator that ends it.
inline constexpr std::wstring_view kMarkerDirectoryPath =
    kMarkerDirectory.substr(0, kMarkerDirectory.size() - 1);

// file inside the marker directory. Every path either program opens, writes or launches
// is composed here.
std::wstring InMarkerDirectory(std::wstring_view file);

// First fields of a marker file. A field starting with the pass word passes; one holding
// it later leaves the row alone; anything else fails. "cannot look" is the companion's way
// to leave a row alone on purpose: it holds "ok" inside "look" and not at its start.
inline constexpr ContractWord kPassWord{"ok"};
inline constexpr ContractWord kFailWord{"fail"};
inline constexpr ContractWord kCannotLookWord{"cannot look"};

// The OS-version file: its first line is the OS line's tail, or exactly the fail word when
// the version could not be determined (the diagnostic then shows the service pack).
inline constexpr std::wstring_view kOsVersionFileName = L"outwinversion.txt";
inline constexpr ContractWord kVersionFailLine = kFailWord;

// The script the diagnostic starts as it closes and the companion leaves behind.
inline constexpr std::wstring_view kCleanupScriptName = L"rundelay.bat";

// Where both programs read the system's identity (product name, service pack, revision).
inline constexpr std::wstring_view kCurrentVersionKey =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// The pass and fail words a group paints.
struct StatusWords {
    std::wstring_view pass;
    std::wstring_view fail;
};

inline constexpr StatusWords kSuccessWords{L"Success", L"Fail"};
inline constexpr StatusWords kEnableWords{L"Enable", L"Disable"};

// One check row: a marker file and the status label it paints.
struct CheckRow {
    std::wstring_view file;  // name inside the marker directory
    std::string_view label;  // layout name of the status label
};

// What a group's rows stand for: row i of a group is item i of its topic's table
// (TrustedSites(), SoftwarePackages(), ZoneSettings(), PopupSites() in checks/tables.h).
enum class Topic { TrustedSites, SoftwareInstall, ZoneScripting, PopupAllowedSites };

// Whose setting a row describes. Workstation: one column, the examination decides which
// places count.
enum class Scope { User, Machine, Workstation };

enum class GroupId {
    TrustedSitesUser,
    TrustedSitesMachine,
    SoftwareInstall,
    ZoneScriptingUser,
    ZoneScriptingMachine,
    PopupAllowedSites,
};

// An ordered list of rows judged with one pair of status words.
struct CheckGroup {
    GroupId id;
    std::string_view name;  // the diagnostic's step that runs it
    Topic topic;
    Scope scope;
    std::span<const CheckRow> rows;
    StatusWords words;
};

// The groups after the identity step, in check order.
std::span<const CheckGroup> CheckGroups();
const CheckGroup& Group(GroupId id);

inline std::wstring MarkerPath(const CheckRow& row) { return InMarkerDirectory(row.file); }

}  // namespace qtk
