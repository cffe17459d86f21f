#include "companion/finding.h"

#include <utility>

namespace qtk::companion {

std::string_view FirstField(RowVerdict verdict) {
    switch (verdict) {
        case RowVerdict::Pass: return kPassWord.bytes();
        case RowVerdict::Fail: return kFailWord.bytes();
        case RowVerdict::Undecided: return kCannotLookWord.bytes();
    }
    return kCannotLookWord.bytes();
}

std::wstring BoundReason(std::wstring reason) {
    if (reason.size() <= kMaxReasonLength) return reason;
    reason.resize(kMaxReasonLength - kCutMark.size());
    // Never half a surrogate pair.
    if (!reason.empty() && reason.back() >= 0xD800 && reason.back() <= 0xDBFF) reason.pop_back();
    reason += kCutMark;
    return reason;
}

std::wstring Quoted(std::wstring_view text) {
    constexpr std::size_t kMaxQuoted = 80;
    if (text.size() <= kMaxQuoted) return L"\"" + std::wstring(text) + L"\"";
    std::wstring cut(text.substr(0, kMaxQuoted));
    if (cut.back() >= 0xD800 && cut.back() <= 0xDBFF) cut.pop_back();
    return L"\"" + cut + L"...\"";
}

std::string MarkerFileBytes(const Finding& finding) {
    std::string bytes(FirstField(finding.verdict));
    if (!finding.reason.empty()) {
        bytes += ',';
        for (const wchar_t c : BoundReason(finding.reason)) {
            if (c == L'\r' || c == L'\n' || c == L'\t') {
                bytes += ' ';
            } else if (c < 0x20 || c > 0x7E) {
                // Reasons may quote a name read from the registry; a character the ANSI
                // code page of some other machine would show differently is not worth
                // a mojibake line.
                bytes += '?';
            } else {
                bytes += static_cast<char>(c);
            }
        }
    }
    bytes += "\r\n";
    return bytes;
}

std::string MarkerFileBytes(const CheckResult& row) {
    return MarkerFileBytes(Finding{row.verdict, row.reason, row.place});
}

std::wstring ErrorName(long code) {
    switch (code) {
        case reg_error::kFileNotFound: return L"not found";
        case reg_error::kPathNotFound: return L"path not found";
        case reg_error::kAccessDenied: return L"access denied";
        case reg_error::kInvalidHandle: return L"invalid handle";
        case reg_error::kInvalidData: return L"value of an impossible size";
        case reg_error::kMoreData: return L"more data than expected";
        case reg_error::kKeyDeleted: return L"key deleted meanwhile";
        case reg_error::kUnsupportedType: return L"unexpected value type";
        case reg_error::kNoUserLoggedOn: return L"no user logged on";
        default: return L"Windows error";
    }
}

Finding CannotLook(long code, const KeyPlace& place, std::wstring_view value) {
    std::wstring where = DescribePlace(place);
    if (!value.empty()) where += L" value " + std::wstring(value);
    std::wstring reason = ErrorName(code) + L" (error " + std::to_wstring(code) + L") reading " + where;
    return Finding{RowVerdict::Undecided, BoundReason(std::move(reason)), std::move(where)};
}

Finding Ok(std::wstring reason, std::wstring place) {
    return Finding{RowVerdict::Pass, BoundReason(std::move(reason)), std::move(place)};
}
Finding Fail(std::wstring reason, std::wstring place) {
    return Finding{RowVerdict::Fail, BoundReason(std::move(reason)), std::move(place)};
}

}  // namespace qtk::companion
