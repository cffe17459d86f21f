// An in-memory registry behind the companion's registry seam, for host tests.
//
// It behaves the way the examination relies on: names compare without regard to case,
// opening a missing key gives 2, a value of the wrong type gives 1630, HKLM has a 64-bit
// and a 32-bit side (Native is the 64-bit one, as for a 64-bit process) while HKCU has
// one, and a key can be made to refuse opening or listing with any error. It counts open
// handles so a test can prove none leaks.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/registry_source.h"
#include "companion/user_fix.h"

namespace qtk::companion::testing {

// Its HKCU side is also the examined user's writable hive, so that a fix applied through
// one seam is what the examination reads through the other.
class FakeRegistrySource : public RegistrySource, public UserHive {
public:
    // Keys spring into being with their parents.
    void AddKey(Hive hive, View view, std::wstring_view path);
    void SetDword(Hive hive, View view, std::wstring_view path, std::wstring_view name,
                  std::uint32_t value);
    void SetString(Hive hive, View view, std::wstring_view path, std::wstring_view name,
                   std::wstring_view value);
    // A REG_DWORD of `bytes` bytes, not four: reading it gives kInvalidData, as the Win32
    // side does once it has checked the size.
    void SetDwordOfSize(Hive hive, View view, std::wstring_view path, std::wstring_view name,
                        std::size_t bytes);
    // A value of a type the examination never expects (REG_BINARY, say).
    void SetOther(Hive hive, View view, std::wstring_view path, std::wstring_view name);
    void DenyOpen(Hive hive, View view, std::wstring_view path, long code = 5);
    void DenyListing(Hive hive, View view, std::wstring_view path, long code = 5);
    void DenyRead(Hive hive, View view, std::wstring_view path, std::wstring_view name,
                  long code = 5);

    long OpenKey(Hive hive, std::wstring_view path, View view, KeyHandle* key) override;
    long ReadDword(KeyHandle key, std::wstring_view name, std::uint32_t* value) override;
    long ReadString(KeyHandle key, std::wstring_view name, std::wstring* value) override;
    long ListSubkeys(KeyHandle key, std::vector<std::wstring>* names) override;
    long ListValues(KeyHandle key, std::vector<std::wstring>* names) override;
    void CloseKey(KeyHandle key) override;

    long ReadValue(std::wstring_view key, std::wstring_view name, RawValue* value) override;
    long KeyExists(std::wstring_view key, bool* exists) override;
    long SetValue(std::wstring_view key, std::wstring_view name, const RawValue& value) override;
    long DeleteValue(std::wstring_view key, std::wstring_view name) override;
    long DeleteKeyIfEmpty(std::wstring_view key) override;
    // A write to this HKCU key fails with code from now on.
    void DenyWrite(std::wstring_view path, long code = 5);
    // The user's side as text, one line a key and a value: what an export would show.
    std::wstring UserExport() const;

    int open_handles = 0;
    int opens = 0;  // successful opens in all

private:
    enum class Type { Dword, String, Other };
    struct Value {
        std::wstring name;
        Type type = Type::Other;
        std::uint32_t dword = 0;
        bool bad_size = false;
        std::wstring text;
        long deny = 0;
        std::optional<RawValue> raw;  // as written through UserHive
    };
    struct Key {
        std::wstring path;  // as first written
        std::map<std::wstring, Value> values;  // by folded name
        long deny_open = 0;
        long deny_listing = 0;
        long deny_write = 0;
    };
    // One side of the registry: HKCU, HKLM 64-bit, HKLM 32-bit.
    using Side = std::map<std::wstring, Key>;  // by folded path

    static RawValue RawOf(const Value& entry);
    Side& SideOf(Hive hive, View view);
    Key& Ensure(Hive hive, View view, std::wstring_view path);
    Value& EnsureValue(Hive hive, View view, std::wstring_view path, std::wstring_view name);
    Key* Find(KeyHandle handle);

    Side user_;
    Side machine64_;
    Side machine32_;
    struct Open {
        Side* side;
        std::wstring folded;
    };
    std::map<KeyHandle, Open> handles_;
    KeyHandle next_handle_ = 0x100;
};

}  // namespace qtk::companion::testing
