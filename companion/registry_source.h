// The companion's view of the registry: read-only, wide, and shaped after what the
// examination asks: open a key in a hive through a chosen registry view, read a DWORD or a
// string, list the names of sub-keys and values. Every call answers with a Windows error
// number, so that "not there" (2) can be told apart from "not allowed to look" (5). The
// Win32 side translates; the unit tests put an in-memory registry behind it. This header
// never includes <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "platform/text.h"

namespace qtk::companion {

enum class Hive { CurrentUser, LocalMachine };

// Native is what the process sees by default; the two others ask for one side of the
// 64/32-bit split explicitly (KEY_WOW64_64KEY / KEY_WOW64_32KEY). On 32-bit Windows both
// explicit views are the one registry there is.
enum class View { Native, Bits64, Bits32 };

using KeyHandle = std::uintptr_t;

// The Windows error numbers as the registry functions return them (LSTATUS, a LONG).
namespace reg_error {
inline constexpr long kSuccess = win_error::kSuccess;
inline constexpr long kFileNotFound = win_error::kFileNotFound;
inline constexpr long kPathNotFound = win_error::kPathNotFound;
inline constexpr long kAccessDenied = win_error::kAccessDenied;
inline constexpr long kInvalidHandle = win_error::kInvalidHandle;
// The value has the type but not a size it can have.
inline constexpr long kInvalidData = win_error::kInvalidData;
inline constexpr long kMoreData = win_error::kMoreData;
inline constexpr long kKeyDeleted = win_error::kKeyDeleted;
// The value exists with another type.
inline constexpr long kUnsupportedType = win_error::kUnsupportedType;
// ERROR_NO_SUCH_LOGON_SESSION: the user columns have nobody's settings to read.
inline constexpr long kNoUserLoggedOn = win_error::kNoSuchLogonSession;
}  // namespace reg_error

class RegistrySource {
public:
    virtual ~RegistrySource() = default;
    // Opens path under the hive for reading only. On success *key must later be closed.
    virtual long OpenKey(Hive hive, std::wstring_view path, View view, KeyHandle* key) = 0;
    // kUnsupportedType when the value is there but is not a REG_DWORD; kInvalidData when
    // it is one of any size but four bytes.
    virtual long ReadDword(KeyHandle key, std::wstring_view name, std::uint32_t* value) = 0;
    // REG_SZ or REG_EXPAND_SZ (unexpanded), without its terminating NUL; kUnsupportedType
    // for any other type, kInvalidData for an odd number of bytes.
    virtual long ReadString(KeyHandle key, std::wstring_view name, std::wstring* value) = 0;
    virtual long ListSubkeys(KeyHandle key, std::vector<std::wstring>* names) = 0;
    virtual long ListValues(KeyHandle key, std::vector<std::wstring>* names) = 0;
    virtual void CloseKey(KeyHandle key) = 0;
};

// Where a key lives, kept together so that every finding can say exactly where it looked.
struct KeyPlace {
    Hive hive = Hive::CurrentUser;
    View view = View::Native;
    std::wstring path;

    KeyPlace Child(std::wstring_view name) const {
        return KeyPlace{hive, view, path + L"\\" + std::wstring(name)};
    }
};

// "HKCU\Software\..." with the view named when it was chosen explicitly for the 32-bit
// side, the way a support person would type it into the registry editor.
std::wstring DescribePlace(const KeyPlace& place);

// An open key that closes itself.
class OpenedKey {
public:
    OpenedKey() = default;
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    OpenedKey(OpenedKey&& other) noexcept
        : source_(std::exchange(other.source_, nullptr)), handle_(other.handle_) {}
    OpenedKey& operator=(OpenedKey&& other) noexcept {
        if (this != &other) {
            Close();
            source_ = std::exchange(other.source_, nullptr);
            handle_ = other.handle_;
        }
        return *this;
    }
    ~OpenedKey() { Close(); }

    // Returns the Windows error number; the key is open only when it is 0.
    long Open(RegistrySource& source, const KeyPlace& place);
    bool IsOpen() const { return source_ != nullptr; }
    KeyHandle Handle() const { return handle_; }
    RegistrySource& Source() const { return *source_; }
    void Close();

private:
    RegistrySource* source_ = nullptr;
    KeyHandle handle_ = 0;
};

// Registry names compare without regard to case; only ASCII letters are folded, which is

// The keys the examination reads, relative to the hive.
namespace keys {
inline constexpr std::wstring_view kInternetSettings =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline constexpr std::wstring_view kPolicyInternetSettings =
    L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline constexpr std::wstring_view kUninstall =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::wstring_view kPopupAllow =
    L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";
inline constexpr std::wstring_view kPolicyPopupAllow =
    L"Software\\Policies\\Microsoft\\Internet Explorer\\New Windows\\Allow";
}  // namespace keys

}  // namespace qtk::companion
