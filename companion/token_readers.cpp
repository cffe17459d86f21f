#include "companion/token_readiness.h"

#include <algorithm>
#include <set>
#include <utility>

#include "companion/check_rows.h"

namespace qtk::companion {
namespace {

// The SCARD_* codes a person meets, by the names winscard.h gives them.
std::wstring ScardName(std::uint32_t code) {
    switch (code) {
        case scard::kInternalError:
            return L"SCARD_F_INTERNAL_ERROR, an internal consistency check failed";
        case 0x80100003: return L"SCARD_E_INVALID_HANDLE";
        case 0x80100006: return L"SCARD_E_NO_MEMORY";
        case 0x80100009: return L"SCARD_E_UNKNOWN_READER";
        case 0x8010000A: return L"SCARD_E_TIMEOUT";
        case 0x80100017: return L"SCARD_E_READER_UNAVAILABLE";
        case scard::kNoService: return L"SCARD_E_NO_SERVICE, the resource manager is not running";
        case scard::kServiceStopped:
            return L"SCARD_E_SERVICE_STOPPED, the resource manager has shut down";
        case scard::kNoReaders: return L"SCARD_E_NO_READERS_AVAILABLE";
        default: return L"";
    }
}

std::wstring CodeText(std::uint32_t code) {
    const std::wstring name = ScardName(code);
    return name.empty() ? Hex32(code) : Cat({Hex32(code), L" (", name, L")"});
}

std::wstring StepText(ReaderStep step) {
    switch (step) {
        case ReaderStep::Load: return L"loading winscard.dll";
        case ReaderStep::Establish: return L"SCardEstablishContext";
        case ReaderStep::List: return L"SCardListReadersW";
        case ReaderStep::Status: return L"SCardGetStatusChangeW";
        case ReaderStep::None: break;
    }
    return L"the reader survey";
}

// A reader holds a token the machine can use: one is present and answers.
bool HoldsToken(const ReaderFacts& reader) {
    const std::uint32_t state = reader.event_state;
    return (state & scard::kStatePresent) != 0 &&
           (state & (scard::kStateMute | scard::kStateUnknown | scard::kStateUnavailable)) == 0;
}

}  // namespace

std::wstring HexBytes(const std::vector<std::uint8_t>& bytes) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) text += L' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::vector<CheckResult> JudgeReaders(const ReaderSurvey& survey) {
    std::vector<CheckResult> rows;
    CheckResult readers = TokenRow(RowId(kTokenGroup, RowScope::Machine, {L"readers"}),
                                   RowScope::Machine, L"smart-card readers");
    const bool listed =
        survey.failed_at == ReaderStep::None || survey.failed_at == ReaderStep::Status;
    readers.place = Cat({L"winscard ", StepText(listed ? ReaderStep::List : survey.failed_at)});
    if (survey.failed_at == ReaderStep::Load) {
        readers.verdict = RowVerdict::Undecided;
        readers.reason = Cat({L"winscard.dll could not be loaded from System32 (Windows error ",
                              std::to_wstring(survey.code), L")"});
    } else if (!listed &&
               (survey.code == scard::kNoService || survey.code == scard::kServiceStopped)) {
        readers.verdict = RowVerdict::Fail;
        readers.reason = Cat({L"the smart-card resource manager is not running: ",
                              StepText(survey.failed_at), L" answered ", CodeText(survey.code)});
    } else if ((!listed && survey.code == scard::kNoReaders) ||
               (listed && survey.readers.empty())) {
        readers.verdict = RowVerdict::Fail;
        readers.reason = L"no smart-card reader is attached or seen by Windows";
    } else if (!listed) {
        // Whatever else the smart-card layer says is passed on as it is: it may mean there
        // is no reader, or that the layer itself is broken, and only a person can tell.
        readers.verdict = RowVerdict::Undecided;
        readers.reason = Cat({StepText(survey.failed_at), L" answered ", CodeText(survey.code),
                              L"; whether a reader is attached cannot be told"});
    } else {
        readers.verdict = RowVerdict::Pass;
        readers.reason = Cat({std::to_wstring(survey.readers.size()), L" reader(s) seen"});
        if (survey.failed_at == ReaderStep::None) {
            const auto holding = static_cast<std::size_t>(
                std::count_if(survey.readers.begin(), survey.readers.end(), HoldsToken));
            readers.reason += Cat({L", ", std::to_wstring(holding), L" holding a token"});
            AddDetail(readers, "tokens", std::to_wstring(holding));
        }
        // Detail names are keys of one object in the report: each reader gets its own.
        for (std::size_t i = 0; i < survey.readers.size(); ++i) {
            AddDetail(readers, ("reader_" + std::to_string(i + 1)).c_str(), survey.readers[i].name);
        }
    }
    if (!listed) AddDetail(readers, "code", Hex32(survey.code));
    rows.push_back(std::move(readers));
    if (!listed) return rows;

    // An empty slot beside a token (a laptop's built-in reader next to a USB token) is no
    // fault: the machine needs one token, not one in every reader.
    const bool token_somewhere =
        std::any_of(survey.readers.begin(), survey.readers.end(), HoldsToken);
    std::set<std::string> ids;
    for (const ReaderFacts& reader : survey.readers) {
        std::string id = RowId(kTokenGroup, RowScope::Machine, {L"reader", reader.name}, IdText::Name);
        // Two names that differ only in punctuation would share an id.
        for (int n = 2; !ids.insert(id).second; ++n) id.append(1, '_').append(std::to_string(n));
        CheckResult row = TokenRow(std::move(id), RowScope::Machine, reader.name);
        row.place = L"winscard SCardGetStatusChangeW";
        const std::uint32_t state = reader.event_state;
        AddDetail(row, "state", Hex32(state));
        if (survey.failed_at == ReaderStep::Status) {
            row.verdict = RowVerdict::Undecided;
            row.reason = Cat({L"SCardGetStatusChangeW answered ", CodeText(survey.code)});
        } else if (state & scard::kStateUnknown) {
            row.verdict = RowVerdict::Undecided;
            row.reason = L"the reader was no longer known when its state was asked";
        } else if (state & (scard::kStateUnavailable | scard::kStateEmpty)) {
            const bool unavailable = (state & scard::kStateUnavailable) != 0;
            row.verdict = token_somewhere ? RowVerdict::Pass : RowVerdict::Fail;
            if (token_somewhere) {
                row.reason = unavailable
                                 ? L"the reader's state is unavailable (another reader holds a token)"
                                 : L"no token in this reader (another reader holds one)";
            } else {
                row.reason = Cat({unavailable ? L"the reader's state is unavailable"
                                              : L"no token in this reader",
                                  L"; no token in any reader"});
            }
        } else if ((state & scard::kStatePresent) && (state & scard::kStateMute)) {
            row.verdict = RowVerdict::Fail;
            row.reason = L"a token is present but does not answer (mute)";
        } else if (state & scard::kStatePresent) {
            row.verdict = RowVerdict::Pass;
            row.reason = L"a token is present";
            if (state & scard::kStateExclusive)
                row.reason += L", held exclusively by another program";
            else if (state & scard::kStateInUse)
                row.reason += L", in use by another program";
        } else {
            row.verdict = RowVerdict::Undecided;
            row.reason = Cat({L"the reader reported state ", Hex32(state)});
        }
        if (!reader.atr.empty()) AddDetail(row, "atr", HexBytes(reader.atr));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace qtk::companion
