#include "companion/token_readiness.h"

#include <utility>

#include "companion/check_rows.h"

namespace qtk::companion {
namespace {

// Service programs and install folders compare as Windows compares paths: without case,
// either slash.
std::wstring PathFolded(std::wstring_view text) {
    std::wstring folded = FoldCase(text);
    for (wchar_t& c : folded) {
        if (c == L'/') c = L'\\';
    }
    return folded;
}

std::wstring StateText(ServiceState state) {
    switch (state) {
        case ServiceState::Stopped: return L"stopped";
        case ServiceState::StartPending: return L"starting";
        case ServiceState::StopPending: return L"stopping";
        case ServiceState::Running: return L"running";
        case ServiceState::ContinuePending: return L"resuming";
        case ServiceState::PausePending: return L"pausing";
        case ServiceState::Paused: return L"paused";
        case ServiceState::Unknown: break;
    }
    return L"in an unknown state";
}

std::wstring StartText(const ServiceFacts& service) {
    std::wstring text;
    switch (service.start_type) {
        case StartType::Boot: text = L"boot start"; break;
        case StartType::System: text = L"system start"; break;
        case StartType::Automatic:
            text = service.delayed_start ? L"automatic (delayed) start" : L"automatic start";
            break;
        case StartType::Manual: text = L"manual start"; break;
        case StartType::Disabled: text = L"disabled"; break;
        case StartType::Unknown: text = L"unknown start type"; break;
    }
    if (service.trigger_start && service.start_type != StartType::Disabled) {
        text += L", trigger start";
    }
    return text;
}

}  // namespace

CheckResult JudgeService(const ServiceFacts& service, std::string id, std::wstring role) {
    CheckResult row = TokenRow(std::move(id), RowScope::Machine, service.name);
    row.place = Cat({L"service ", service.name});
    const std::wstring who = Cat({role, L" (", service.name, L")"});
    if (service.error == kServiceDoesNotExist) {
        row.verdict = RowVerdict::Fail;
        row.reason = Cat({who, L" is not installed on this system"});
        return row;
    }
    if (service.error != 0) {
        row.verdict = RowVerdict::Undecided;
        row.reason = Cat(
            {who, L" could not be queried (Windows error ", std::to_wstring(service.error), L")"});
        return row;
    }
    if (!service.display_name.empty()) AddDetail(row, "display_name", service.display_name);
    AddDetail(row, "state", StateText(service.state));
    AddDetail(row, "start", StartText(service));
    if (!service.program.empty()) AddDetail(row, "program", service.program);
    const std::wstring how = Cat({StateText(service.state), L", ", StartText(service)});
    // A disabled service cannot be started by a trigger or a program, whatever its state.
    if (service.start_type == StartType::Disabled) {
        row.verdict = RowVerdict::Fail;
        row.reason = Cat({who, L" is disabled (", how, L")"});
        return row;
    }
    switch (service.state) {
        case ServiceState::Running:
        case ServiceState::StartPending:
        case ServiceState::ContinuePending:
            row.verdict = RowVerdict::Pass;
            row.reason = Cat({who, L" is ", how});
            return row;
        case ServiceState::Paused:
        case ServiceState::PausePending:
            row.verdict = RowVerdict::Fail;
            row.reason = Cat({who, L" is ", how});
            return row;
        case ServiceState::Stopped:
        case ServiceState::StopPending:
            if (service.trigger_start) {
                row.verdict = RowVerdict::Pass;
                row.reason = Cat({who, L" is ", how, L"; its trigger starts it when needed"});
            } else if (service.start_type != StartType::Manual) {
                row.verdict = RowVerdict::Fail;
                row.reason = Cat({who, L" is ", how, L", so something stopped it"});
            } else if (SameName(service.name, kCertPropagationService)) {
                // It must already be running, or be started by a trigger, to see a token
                // being inserted; nothing starts a plain manual one then.
                row.verdict = RowVerdict::Fail;
                row.reason = Cat({who, L" is ", how,
                                  L" with no start trigger, so nothing starts it when a token "
                                  L"is inserted"});
            } else {
                row.verdict = RowVerdict::Pass;
                row.reason = Cat({who, L" is ", how, L"; it starts when it is needed"});
            }
            return row;
        case ServiceState::Unknown: break;
    }
    row.verdict = RowVerdict::Undecided;
    row.reason = Cat({who, L" is ", how});
    return row;
}

bool ProgramInFolder(std::wstring_view program, std::wstring_view folder) {
    if (folder.empty()) return false;
    // A service's command line quotes a program path that holds blanks.
    if (!program.empty() && program.front() == L'"') program.remove_prefix(1);
    const std::wstring p = PathFolded(program);
    std::wstring f = PathFolded(folder);
    if (f.back() != L'\\') f += L'\\';
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0;
}

}  // namespace qtk::companion
