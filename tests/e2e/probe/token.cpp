// Test certificates put into the prefix user's stores, and the token examination run
// through the companion's own Windows layer, for the companion's token case.
#include "probe.h"

#include <wincrypt.h>

#include <cstdlib>

#include "companion/token_readiness.h"
#include "companion/win32/win32_registry.h"
#include "companion/win32/win32_token.h"

namespace probe {
namespace {

namespace companion = qtk::companion;

// A field of a token row: a tab or line end inside it would split the line the case
// reads, so they become blanks.
std::string Flat(std::wstring_view text) {
    std::string bytes = Utf8(text);
    for (char& c : bytes) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    return bytes;
}

[[noreturn]] void Fail(const std::string& why) {
    throw ProbeError{why + " (error " + Num(GetLastError()) + ")"};
}

std::vector<BYTE> ReadFileBytes(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("cannot open " + Flat(path));
    std::vector<BYTE> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok || read != bytes.size()) Fail("cannot read " + Flat(path));
    return bytes;
}

PCCERT_CONTEXT Add(const wchar_t* store_name, const std::wstring& path) {
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store_name);
    if (store == nullptr) Fail("cannot open the store " + Flat(store_name));
    const std::vector<BYTE> der = ReadFileBytes(path);
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        Fail("cannot add " + Flat(path));
    }
    CertCloseStore(store, 0);
    return added;
}

const char* VerdictWord(companion::RowVerdict verdict) {
    switch (verdict) {
        case companion::RowVerdict::Pass: return "pass";
        case companion::RowVerdict::Fail: return "fail";
        case companion::RowVerdict::Undecided: return "undecided";
    }
    return "?";
}

}  // namespace

// cert-add-my DER PROVIDER TYPE: the certificate in file DER into the user's personal
// store, with a key-provider property naming PROVIDER (CSP type TYPE, 0 for a CNG key
// storage provider); the key itself does not exist and is never needed.
void CertAddMy(const Args& args) {
    PCCERT_CONTEXT added = Add(L"MY", args[0]);
    std::wstring container = L"tkcheck-test-" + args[0];
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.pwszProvName = const_cast<wchar_t*>(args[1].c_str());
    info.dwProvType = static_cast<DWORD>(_wtoi(args[2].c_str()));
    info.dwKeySpec = info.dwProvType == 0 ? 0 : AT_KEYEXCHANGE;
    if (!CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
        Fail("cannot set the key-provider property of " + Flat(args[0]));
    }
    CertFreeCertificateContext(added);
    Line("added\t" + Flat(args[0]));
}

// cert-add-root DER: the certificate into the user's trusted roots.
void CertAddRoot(const Args& args) {
    CertFreeCertificateContext(Add(L"Root", args[0]));
    Line("added\troot");
}

// token-rows: the token rows: id, verdict, reason, then name=value details, tab-separated.
void TokenRows(const Args&) {
    companion::win32::Win32TokenSystem system;
    companion::win32::Win32RegistrySource registry;
    const std::vector<companion::CheckResult> rows =
        companion::ExamineTokenReadiness(system, registry, companion::ExaminedUser{});
    for (const companion::CheckResult& row : rows) {
        std::string line = row.id + "\t" + VerdictWord(row.verdict) + "\t" + Flat(row.reason);
        for (const auto& [name, value] : row.details) line += "\t" + name + "=" + Flat(value);
        Line(line);
    }
}

}  // namespace probe
