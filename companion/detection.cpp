#include "companion/detection.h"

#include <algorithm>
#include <cstdint>

#include "companion/check_rows.h"
#include "companion/registry_source.h"

namespace qtk::companion {
namespace {

std::wstring Wide(std::string_view text) { return std::wstring(text.begin(), text.end()); }

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One character of text at i: how many wchar_t it takes here, and how many UTF-16 units
// it takes on Windows (wchar_t is UTF-16 there and UTF-32 on the host).
struct Character {
    std::size_t length = 1;
    std::size_t units = 1;
    bool broken = false;  // half a surrogate pair
};

Character CharacterAt(std::wstring_view text, std::size_t i) {
    const wchar_t c = text[i];
    if constexpr (sizeof(wchar_t) == 2) {
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            return {2, 2, false};
        }
        return {1, 1, IsHighSurrogate(c) || IsLowSurrogate(c)};
    } else {
        const auto code = static_cast<std::uint32_t>(c);
        return {1, code > 0xFFFF ? 2u : 1u, IsHighSurrogate(c) || IsLowSurrogate(c)};
    }
}

std::wstring Counts(const RowCounts& counts) {
    return std::to_wstring(counts.pass) + L" passed, " + std::to_wstring(counts.fail) +
           L" failed, " + std::to_wstring(counts.undecided) + L" undecided";
}

std::wstring UserText(const UserChoice& user) {
    if (!user.user.logged_on) return L"none";
    const std::wstring sid = ExaminedSid(user);
    if (user.user.name.empty()) return sid.empty() ? L"this user" : sid;
    return sid.empty() ? user.user.name : user.user.name + L" (" + sid + L")";
}

}  // namespace

std::wstring FitLine(std::wstring_view text, std::size_t limit) {
    const std::size_t room = limit > kCutMark.size() ? limit - kCutMark.size() : 0;
    std::wstring line;
    std::size_t units = 0;
    std::size_t cut = 0;  // where the line ends if it must end in the mark
    for (std::size_t i = 0; i < text.size() && units <= limit;) {
        const Character c = CharacterAt(text, i);
        const wchar_t first = text[i];
        // A line break would make the part after it the line the management system shows.
        if (c.broken || first < 0x20 || (first >= 0x7F && first < 0xA0)) {
            line += L'?';
        } else {
            line.append(text.substr(i, c.length));
        }
        units += c.units;
        if (units <= room) cut = line.size();
        i += c.length;
    }
    if (units <= limit) return line;
    line.resize(cut);
    line += kCutMark;
    return line;
}

Detection DetectionOf(const std::vector<CheckResult>& rows, const UserChoice& user,
                      const std::vector<std::string>& skipped_groups, bool undecided_is_issue) {
    const RowCounts counts = Count(rows);
    Detection detection;
    detection.issue = counts.fail > 0 || (undecided_is_issue && counts.undecided > 0);
    std::wstring line = detection.issue ? L"issue: " : L"no issue: ";
    line += Counts(counts) + L", user " + UserText(user);
    if (!skipped_groups.empty()) {
        line += L", left out:";
        for (const std::string& group : skipped_groups) line += L" " + Wide(group);
    }
    // Failures first: they are what a cut line must still show.
    std::wstring failed;
    for (const CheckResult& row : rows) {
        if (row.verdict == RowVerdict::Fail) failed += (failed.empty() ? L"" : L", ") + Wide(row.id);
    }
    if (!failed.empty()) line += L"; failed: " + failed;
    // Undecided rows grouped by their reason, which is often one for many rows ("no user
    // logged on" for every user row), in the order the reasons first appear.
    std::vector<std::pair<std::wstring, std::wstring>> undecided;
    for (const CheckResult& row : rows) {
        if (row.verdict != RowVerdict::Undecided) continue;
        auto group = std::find_if(undecided.begin(), undecided.end(),
                                  [&](const auto& entry) { return entry.first == row.reason; });
        if (group == undecided.end()) {
            undecided.emplace_back(row.reason, Wide(row.id));
        } else {
            group->second += L", " + Wide(row.id);
        }
    }
    for (const auto& [reason, ids] : undecided) {
        line += L"; undecided (" + (reason.empty() ? std::wstring(L"no reason given") : reason) +
                L"): " + ids;
    }
    detection.line = FitLine(line);
    return detection;
}

Detection CouldNotComplete(std::wstring_view what) {
    return Detection{true, FitLine(L"issue: could not complete: " + std::wstring(what))};
}

bool AsksForDetection(const std::vector<std::wstring>& args) {
    for (const std::wstring& arg : args) {
        std::wstring_view body = arg;
        if (body.rfind(L"--", 0) == 0) {
            body.remove_prefix(2);
        } else if (body.rfind(L"/", 0) == 0) {
            body.remove_prefix(1);
        } else {
            continue;
        }
        const std::wstring name = FoldCase(body.substr(0, std::min(body.find(L'='), body.find(L':'))));
        if (name == L"detect") return true;
    }
    return false;
}

}  // namespace qtk::companion
