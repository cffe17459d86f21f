#include "app/cleanup_launch.h"

namespace qtk {

CleanupDecision DecideCleanupLaunch(bool elevated, const SecurityFacts& directory,
                                    const SecurityFacts& script,
                                    std::wstring_view directory_path,
                                    std::wstring_view script_path) {
    CleanupDecision decision;
    if (!elevated) return decision;
    const std::pair<const SecurityFacts*, std::wstring_view> judged[] = {
        {&directory, directory_path}, {&script, script_path}};
    for (const auto& [facts, path] : judged) {
        const std::wstring why = WhoElseMayChange(*facts);
        if (why.empty()) continue;
        decision.launch = false;
        if (!decision.reason.empty()) decision.reason += L"\r\n";
        decision.reason += std::wstring(path) + L": " + why + L".";
    }
    return decision;
}

}  // namespace qtk
