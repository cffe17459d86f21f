// Locking a registry key: an empty access list, not a missing one (a missing list would
// let everybody in), so that opening the key fails with "access denied" until the server
// restarts. Shared by tkprobe (reg-deny) and tkaclprobe (lock-key).
#pragma once

#include <windows.h>

namespace probe {

struct KeyLock {
    const char* failed_step;  // null when the key is locked
    LONG error;               // the step's error, or what opening for reading now gives
};

inline KeyLock LockRegistryKey(HKEY root, const wchar_t* path) {
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

}  // namespace probe
