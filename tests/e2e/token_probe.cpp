// tktokenprobe: puts test certificates into the prefix user's stores, and runs the token
// examination with the companion's own Windows layer, printing its rows.
//
//   tktokenprobe COMMAND [ARGS]... [COMMAND [ARGS]...]...
//
//   add-my DER PROVIDER TYPE  adds the certificate in file DER to the user's personal
//                             store with a key-provider property naming PROVIDER (CSP type
//                             TYPE, 0 for a CNG key storage provider); the key itself does
//                             not exist and is never needed
//   add-root DER              adds the certificate to the user's trusted roots
//   examine                   the token rows: id, verdict, reason, then name=value details,
//                             tab-separated, UTF-8
// A command that cannot do its job prints "error<TAB>why" and the probe exits 2.
#include <windows.h>
#include <wincrypt.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "companion/token_readiness.h"
#include "companion/win32/win32_registry.h"
#include "companion/win32/win32_token.h"

namespace {

namespace companion = qtk::companion;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    // A tab or line end inside a field would split the line the case reads.
    for (char& c : bytes) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    return bytes;
}

[[noreturn]] void Fail(const std::string& why) {
    std::printf("error\t%s (error %lu)\n", why.c_str(), GetLastError());
    std::fflush(stdout);
    std::exit(2);
}

std::vector<BYTE> ReadFileBytes(const wchar_t* path) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("cannot open " + Utf8(path));
    std::vector<BYTE> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok || read != bytes.size()) Fail("cannot read " + Utf8(path));
    return bytes;
}

PCCERT_CONTEXT Add(const wchar_t* store_name, const wchar_t* path) {
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store_name);
    if (store == nullptr) Fail("cannot open the store " + Utf8(store_name));
    const std::vector<BYTE> der = ReadFileBytes(path);
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        Fail("cannot add " + Utf8(path));
    }
    CertCloseStore(store, 0);
    return added;
}

void AddPersonal(const wchar_t* path, const wchar_t* provider, const wchar_t* type) {
    PCCERT_CONTEXT added = Add(L"MY", path);
    std::wstring container = L"tkcheck-test-";
    container += path;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.pwszProvName = const_cast<wchar_t*>(provider);
    info.dwProvType = static_cast<DWORD>(_wtoi(type));
    info.dwKeySpec = info.dwProvType == 0 ? 0 : AT_KEYEXCHANGE;
    if (!CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
        Fail("cannot set the key-provider property of " + Utf8(path));
    }
    CertFreeCertificateContext(added);
    std::printf("added\t%s\n", Utf8(path).c_str());
}

const char* VerdictWord(companion::RowVerdict verdict) {
    switch (verdict) {
        case companion::RowVerdict::Pass: return "pass";
        case companion::RowVerdict::Fail: return "fail";
        case companion::RowVerdict::Undecided: return "undecided";
    }
    return "?";
}

void Examine() {
    companion::win32::Win32TokenSystem system;
    companion::win32::Win32RegistrySource registry;
    const std::vector<companion::CheckResult> rows =
        companion::ExamineTokenReadiness(system, registry, companion::ExaminedUser{});
    for (const companion::CheckResult& row : rows) {
        std::printf("%s\t%s\t%s", row.id.c_str(), VerdictWord(row.verdict),
                    Utf8(row.reason).c_str());
        for (const auto& [name, value] : row.details) {
            std::printf("\t%s=%s", name.c_str(), Utf8(value).c_str());
        }
        std::printf("\n");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    for (int i = 1; i < argc; ++i) {
        const std::wstring command = argv[i];
        if (command == L"add-my" && i + 3 < argc) {
            AddPersonal(argv[i + 1], argv[i + 2], argv[i + 3]);
            i += 3;
        } else if (command == L"add-root" && i + 1 < argc) {
            CertFreeCertificateContext(Add(L"Root", argv[++i]));
            std::printf("added\troot\n");
        } else if (command == L"examine") {
            Examine();
        } else {
            Fail("unknown command or missing arguments: " + Utf8(command));
        }
    }
    return 0;
}
