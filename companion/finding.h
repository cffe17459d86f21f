// What one examination of one check row found, and the marker line that carries it.
//
// The diagnostic reads only a marker's first field and judges it: pass when it starts
// with "ok", no change when "ok" occurs later in it, fail otherwise. So the first field
// is one of three fixed words, and whatever a person may want to know goes after the
// first comma, where the diagnostic never looks.
#pragma once

#include <string>
#include <string_view>

#include "checks/contract.h"
#include "companion/check_result.h"
#include "companion/registry_source.h"

namespace qtk::companion {

// What one examiner decided about one item: the verdict (Pass: as the kit needs it; Fail:
// it is not; Undecided: the examination could not decide, a key it may not read, say) and
// why. The row that carries it is built where the item's group and place are known.
struct Finding {
    RowVerdict verdict = RowVerdict::Fail;
    std::wstring reason;  // for a person; may be empty
    std::wstring place;   // the registry place that decided, when one did
};

// The first field for each verdict: the contract's pass, fail and cannot-look words.
std::string_view FirstField(RowVerdict verdict);

// A reason quotes what it read (a site name, a policy value's data), and a registry value
// may be a megabyte long; a reason longer than this is cut to it and says so at its end.
inline constexpr std::size_t kMaxReasonLength = 300;
inline constexpr std::wstring_view kCutMark = L" ...(cut)";
std::wstring BoundReason(std::wstring reason);
// Text read from the registry, in quotes, cut to a length that leaves the rest of the
// reason room: "tesk.qrn.example", "99999...".
std::wstring Quoted(std::wstring_view text);

// The whole marker file: first field, then ",reason" when there is one, then CR LF.
// Single-byte text: anything outside printable ASCII in the reason becomes '?', and the
// line ends, which would start a second line, become blanks. The reason is bounded.
std::string MarkerFileBytes(const Finding& finding);
std::string MarkerFileBytes(const CheckResult& row);

// A short name for the Windows errors a registry read meets, e.g. "access denied".
std::wstring ErrorName(long code);

// "access denied (error 5) reading HKLM\..." — the reason of a finding that could not
// be decided.
Finding CannotLook(long code, const KeyPlace& place, std::wstring_view value = {});

Finding Ok(std::wstring reason, std::wstring place = {});
Finding Fail(std::wstring reason, std::wstring place = {});

}  // namespace qtk::companion
