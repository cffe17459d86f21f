#include "companion/token_readiness.h"

#include <optional>
#include <utility>

#include "checks/tables.h"
#include "companion/check_rows.h"
#include "companion/software_install.h"

namespace qtk::companion {
CheckResult TokenRow(std::string id, RowScope scope, std::wstring target) {
    CheckResult row;
    row.id = std::move(id);
    row.group = std::string(kTokenGroup);
    row.scope = scope;
    row.target = std::move(target);
    return row;
}

std::vector<CheckResult> ExamineTokenReadiness(TokenSystem& system, RegistrySource& registry,
                                               const ExaminedUser& user) {
    std::vector<CheckResult> rows;
    rows.push_back(JudgeService(system.QueryService(kSmartCardService),
                                RowId(kTokenGroup, RowScope::Machine, {L"scardsvr"}),
                                L"the Smart Card service"));
    rows.push_back(JudgeService(system.QueryService(kCertPropagationService),
                                RowId(kTokenGroup, RowScope::Machine, {L"certpropsvc"}),
                                L"the Certificate Propagation service"));
    for (CheckResult& row : JudgeReaders(system.SurveyReaders())) rows.push_back(std::move(row));

    // The token-key client's own services.
    std::optional<ServiceList> services;
    const SoftwareInstallExaminer installed(registry);
    for (const SoftwarePackage& package : SoftwarePackages()) {
        const PackagePlace place = installed.Locate(package);
        CheckResult row = TokenRow(
            RowId(kTokenGroup, RowScope::Machine, {L"middleware", package.display_name}, IdText::Name),
            RowScope::Machine, std::wstring(package.display_name));
        row.place = place.entry.empty() ? L"the Uninstall keys of HKLM and HKCU" : place.entry;
        if (!place.found) {
            row.verdict = RowVerdict::Undecided;
            row.reason = L"not installed, so it has no service to look at";
            rows.push_back(std::move(row));
            continue;
        }
        if (place.folder.empty()) {
            row.verdict = RowVerdict::Undecided;
            row.reason =
                L"installed, but its Uninstall entry names no folder (InstallLocation, "
                L"DisplayIcon) to find its services by";
            rows.push_back(std::move(row));
            continue;
        }
        AddDetail(row, "folder", place.folder);
        if (!services) services = system.ListServices();
        if (services->error != 0) {
            row.verdict = RowVerdict::Undecided;
            row.reason = Cat({L"the services could not be listed (Windows error ",
                              std::to_wstring(services->error), L")"});
            rows.push_back(std::move(row));
            continue;
        }
        std::vector<const ServiceFacts*> own;
        for (const ServiceFacts& service : services->services) {
            if (ProgramInFolder(service.program, place.folder)) own.push_back(&service);
        }
        if (own.empty()) {
            // Not every client runs a service; having none is not a fault.
            row.verdict = RowVerdict::Pass;
            row.reason = Cat({L"installed in ", place.folder, L"; it registers no service there"});
            rows.push_back(std::move(row));
            continue;
        }
        for (const ServiceFacts* service : own) {
            CheckResult service_row =
                JudgeService(*service,
                             RowId(kTokenGroup, RowScope::Machine,
                                   {L"middleware", package.display_name, service->name},
                                   IdText::Name),
                             Cat({L"the service of ", package.display_name}));
            AddDetail(service_row, "package", std::wstring(package.display_name));
            rows.push_back(std::move(service_row));
        }
    }

    // The user's certificates, from their own store whoever runs this program. With nobody
    // logged on, the row is marked undecided with the rest of the user's rows when the
    // examination finishes.
    CheckResult store = TokenRow(RowId(kTokenGroup, RowScope::User, {L"certificates"}),
                                 RowScope::User, L"personal certificate store");
    store.place = user.is_process_user ? L"personal store (MY) of the current user"
                  : user.sid.empty()   ? L"personal store (MY) of the examined user"
                                       : Cat({L"personal store ", user.sid, L"\\MY"});
    // With nobody to examine there is no store to open (an empty SID would name this
    // process's own); FinishRows marks the row with the rest of the user's rows.
    if (!user.logged_on) {
        rows.push_back(std::move(store));
        return rows;
    }
    const CertificateSurvey survey =
        system.PersonalCertificates(user.is_process_user ? std::wstring() : user.sid);
    // 2 (ERROR_FILE_NOT_FOUND) and CRYPT_E_NOT_FOUND: a profile that never had a personal
    // store, which holds no certificate either.
    if (survey.open_error != 0 && survey.open_error != 2 && survey.open_error != 0x80092004) {
        store.verdict = RowVerdict::Undecided;
        store.reason = Cat(
            {L"the personal store could not be opened (error ", Hex32(survey.open_error), L")"});
        rows.push_back(std::move(store));
        return rows;
    }
    const std::vector<std::wstring> providers = SmartCardProviders(registry);
    std::vector<const CertificateFacts*> on_token;
    std::size_t software = 0;
    for (const CertificateFacts& certificate : survey.certificates) {
        if (IsTokenProvider(certificate, providers)) {
            on_token.push_back(&certificate);
        } else if (certificate.has_key_info) {
            ++software;
        }
    }
    AddDetail(store, "certificates", std::to_wstring(survey.certificates.size()));
    AddDetail(store, "software_keys", std::to_wstring(software));
    AddDetail(store, "token_keys", std::to_wstring(on_token.size()));
    if (on_token.empty()) {
        store.verdict = RowVerdict::Fail;
        store.reason = Cat({L"no certificate in the personal store has its key on a token (",
                            std::to_wstring(survey.certificates.size()), L" certificate(s), ",
                            std::to_wstring(software), L" with a key in a software provider)"});
        rows.push_back(std::move(store));
        return rows;
    }
    store.verdict = RowVerdict::Pass;
    store.reason =
        Cat({std::to_wstring(on_token.size()), L" certificate(s) with a key on a token"});
    rows.push_back(std::move(store));
    const std::int64_t now = system.Now();
    const LogonPolicy policy = ReadLogonPolicy(registry);
    for (const CertificateFacts* certificate : on_token) {
        rows.push_back(
            JudgeCertificate(*certificate, system.VerifyChain(*certificate), now, policy));
    }
    return rows;
}

}  // namespace qtk::companion
