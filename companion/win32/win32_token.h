// The token group's seam over Windows: the service manager (advapi32), the smart-card
// resource manager (winscard.dll) and the certificate stores and chain engine
// (crypt32.dll). The two DLLs that are not KnownDLLs are loaded from System32 only, when
// first needed, so a planted copy beside the program is never picked up and a system
// without them still gets its other rows.
//
// Nothing here writes: the personal store is opened read-only and only if it exists, the
// chain engine is kept from fetching over the network (which would fill the URL cache)
// and from updating the root store, and no private key is ever opened (only the key
// provider property of a certificate is read), so no PIN prompt can appear.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "companion/token_readiness.h"

namespace qtk::companion::win32 {

class Win32TokenSystem : public TokenSystem {
public:
    Win32TokenSystem();
    ~Win32TokenSystem() override;
    Win32TokenSystem(const Win32TokenSystem&) = delete;
    Win32TokenSystem& operator=(const Win32TokenSystem&) = delete;

    ServiceFacts QueryService(std::wstring_view name) override;
    ServiceList ListServices() override;
    ReaderSurvey SurveyReaders() override;
    CertificateSurvey PersonalCertificates(const std::wstring& user_sid) override;
    ChainVerdict VerifyChain(const CertificateFacts& certificate) override;
    std::int64_t Now() override;

private:
    struct Crypt;
    bool LoadCrypt();

    HMODULE crypt32_ = nullptr;
    std::unique_ptr<Crypt> crypt_;
    DWORD crypt_error_ = 0;
    // The contexts PersonalCertificates found, kept for VerifyChain; handle is the index.
    std::vector<const void*> contexts_;
};

}  // namespace qtk::companion::win32
