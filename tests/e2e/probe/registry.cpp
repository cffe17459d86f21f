// Registry values the bench cannot write with `reg`, and keys nobody may open.
#include <map>

#include "probe.h"

namespace probe {
namespace {

// Locking a registry key: an empty access list, not a missing one (a missing list would
// let everybody in), so that opening the key fails with "access denied" until the server
// restarts.
struct KeyLock {
    const char* failed_step;  // null when the key is locked
    LONG error;               // the step's error, or what opening for reading now gives
};

KeyLock LockRegistryKey(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(root, path, 0, WRITE_DAC | KEY_WOW64_64KEY, &key);
    if (rc != ERROR_SUCCESS) return {"RegOpenKeyExW", rc};
    ACL acl;
    SECURITY_DESCRIPTOR sd;
    const bool built = InitializeAcl(&acl, sizeof acl, ACL_REVISION) &&
                       InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
                       SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
    rc = built ? RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd)
               : static_cast<LONG>(GetLastError());
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return {"RegSetKeySecurity", rc};
    // Proof that a reader's open will now be refused.
    rc = RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_64KEY, &key);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(key);
        return {"the key still opens for reading", 0};
    }
    return {nullptr, rc};
}

// "HKLM\path" or "HKCU\path" split into a root and the rest.
HKEY ParseKey(const std::wstring& key_name, std::wstring& path) {
    const std::size_t slash = key_name.find(L'\\');
    const std::wstring root = key_name.substr(0, slash);
    path = slash == std::wstring::npos ? L"" : key_name.substr(slash + 1);
    if (lstrcmpiW(root.c_str(), L"HKLM") == 0) return HKEY_LOCAL_MACHINE;
    if (lstrcmpiW(root.c_str(), L"HKCU") == 0) return HKEY_CURRENT_USER;
    throw ProbeError{"unknown registry root in " + Utf8(key_name)};
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c > 0x7F) throw ProbeError{"registry names must be plain ASCII here"};
        out += static_cast<char>(c);
    }
    return out;
}

DWORD ParseType(const std::wstring& name) {
    static const std::map<std::wstring, DWORD> kTypes = {
        {L"REG_SZ", REG_SZ},       {L"REG_EXPAND_SZ", REG_EXPAND_SZ},
        {L"REG_BINARY", REG_BINARY}, {L"REG_DWORD", REG_DWORD},
        {L"REG_MULTI_SZ", REG_MULTI_SZ}};
    const auto found = kTypes.find(name);
    if (found == kTypes.end()) throw ProbeError{"unknown value type " + Utf8(name)};
    return found->second;
}

std::vector<BYTE> ParseHex(const std::wstring& hex) {
    if (hex.size() % 2 != 0) throw ProbeError{"odd number of hex digits"};
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::wstring pair = hex.substr(i, 2);
        wchar_t* end = nullptr;
        const unsigned long v = std::wcstoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) throw ProbeError{"bad hex digits " + Utf8(pair)};
        bytes.push_back(static_cast<BYTE>(v));
    }
    return bytes;
}

}  // namespace

// reg-set-raw KEY NAME TYPE HEX: exactly these bytes, which `reg add` cannot store: it
// always ends a string with a NUL. The call adds one itself to a string whose next byte
// in memory is zero, so the buffer carries a non-zero byte past the data. Read back
// through the same ANSI interface the program uses, to show what it will see.
void RegSetRaw(const Args& args) {
    std::wstring path;
    const HKEY root = ParseKey(args[0], path);
    std::vector<BYTE> data = ParseHex(args[3]);
    const DWORD size = static_cast<DWORD>(data.size());
    data.push_back('X');
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(root, Narrow(path).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) throw ProbeError{"cannot open " + Utf8(args[0]) + ": " + Num(rc)};
    const std::string value_name = Narrow(args[1]);
    rc = RegSetValueExA(key, value_name.c_str(), 0, ParseType(args[2]), data.data(), size);
    DWORD stored_type = 0, stored = 0;
    const LONG query = RegQueryValueExA(key, value_name.c_str(), nullptr, &stored_type, nullptr, &stored);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw ProbeError{"RegSetValueExA failed: " + Num(rc)};
    if (query != ERROR_SUCCESS) throw ProbeError{"the value cannot be read back: " + Num(query)};
    Line("#regset\tname\ttype\tansi_size");
    Line("regset\t" + Field(args[1]) + "\t" + Num(stored_type) + "\t" + Num(stored));
}

// reg-deny KEY: nobody may open KEY any more; prints what opening it now gives.
void RegDeny(const Args& args) {
    std::wstring path;
    const HKEY root = ParseKey(args[0], path);
    const KeyLock lock = LockRegistryKey(root, path.c_str());
    if (lock.failed_step) {
        throw ProbeError{std::string(lock.failed_step) + " on " + Utf8(args[0]) + ": " +
                         Num(lock.error)};
    }
    Line("denied\t" + Num(lock.error));
}

}  // namespace probe
