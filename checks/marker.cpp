#include "checks/marker.h"

#include <algorithm>
#include <memory>

#include "platform/text_stream.h"

namespace qtk {
namespace {

// Follows the first field through the decoded text one block at a time. The field can be
// as long as the file, so only its head is kept; where the pass word first occurs is
// settled on the way, which is all the verdict needs.
class FieldScanner {
public:
    explicit FieldScanner(MarkerField& field) : field_(field) {}

    // Returns true once the field and the bounded rest of its line have been seen;
    // nothing after that point is looked at.
    bool Feed(std::u16string_view block) {
        std::size_t i = 0;
        if (state_ == State::Leading) {
            while (i < block.size() && (block[i] == u' ' || block[i] == u'\t')) ++i;
            if (i == block.size()) return false;
            if (block[i] == u'"') {
                state_ = State::Quoted;
                ++i;
            } else {
                state_ = State::Plain;
            }
        }
        for (; i < block.size() && (state_ == State::Plain || state_ == State::Quoted); ++i) {
            const char16_t c = block[i];
            if (state_ == State::Quoted) {
                if (c == u'"') state_ = State::AfterQuote;
                else Take(c);
            } else if (c == u'\r' || c == u'\n') {
                return true;
            } else if (c == u',') {
                state_ = State::Reason;
            } else {
                Take(c);
            }
        }
        if (state_ == State::AfterQuote && i < block.size()) {
            // "ok",reason: the comma after the closing quote is a separator, not reason.
            if (block[i] == u',') ++i;
            state_ = State::Reason;
        }
        for (; i < block.size(); ++i) {
            const char16_t c = block[i];
            if (c == u'\r' || c == u'\n') return true;
            if (reason_.size() == kReasonLimit) {
                cut_ = true;
                return true;
            }
            reason_.push_back(static_cast<wchar_t>(c));
        }
        return false;
    }

    // The reason as it may be shown, once the scan is over (at the end of the file too).
    void Finish() {
        // A pair cut in half by the limit is no character; the ellipsis says text is missing.
        if (cut_ && !reason_.empty() && reason_.back() >= 0xD800 && reason_.back() <= 0xDBFF) {
            reason_.pop_back();
        }
        field_.reason = SafeReasonText(reason_);
        if (cut_ && !field_.reason.empty()) field_.reason += L'\u2026';
    }

private:
    enum class State { Leading, Plain, Quoted, AfterQuote, Reason };

    static constexpr std::wstring_view kToken = kPassWord.text();

    void Take(char16_t c) {
        if (field_.head.size() < kMarkerHeadLimit) field_.head.push_back(static_cast<wchar_t>(c));
        // Matching unit by unit, not in the head, keeps a word split across two blocks or
        // straddling the end of the head from being missed. Restarting at the word's first
        // letter is enough because no proper head of "ok" is also its tail.
        if (!field_.token_found) {
            const auto unit = static_cast<wchar_t>(c);
            matched_ = unit == kToken[matched_] ? matched_ + 1 : (unit == kToken[0] ? 1 : 0);
            if (matched_ == kToken.size()) {
                field_.token_found = true;
                field_.token_at_start = field_.length + 1 == kToken.size();
            }
        }
        ++field_.length;
    }

    MarkerField& field_;
    State state_ = State::Leading;
    std::size_t matched_ = 0;
    std::wstring reason_;  // raw, at most kReasonLimit units
    bool cut_ = false;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

MarkerField ReadMarkerField(FileSystem& files, TextCodec& text, const std::wstring& path) {
    std::unique_ptr<InputFile> file = OpenTextFile(files, path, L"Cannot open the marker file");
    TextStream stream(*file, text);
    MarkerField field;
    FieldScanner scanner(field);
    for (;;) {
        const std::u16string_view block = stream.NextBlock();
        if (block.empty()) {
            if (stream.HeldNoBytes()) {
                file->Close();
                throw Failure{win_error::kHandleEof, L"The marker file is empty", path};
            }
            break;
        }
        if (scanner.Feed(block)) break;
    }
    scanner.Finish();
    // Closed here, not by the destructor: no label may be painted while a marker is open.
    file->Close();
    return field;
}

Verdict DecideVerdict(const MarkerField& field) {
    if (field.token_at_start) return Verdict::Pass;
    if (!field.token_found) return Verdict::Fail;
    return Verdict::NoChange;
}

Verdict DecideVerdict(std::wstring_view field) {
    const std::size_t at = field.find(kPassWord.text());
    if (at == 0) return Verdict::Pass;
    if (at == std::wstring_view::npos) return Verdict::Fail;
    return Verdict::NoChange;
}

void PaintStatusLabel(StatusLabel& label, Verdict verdict, const StatusWords& words) {
    // Colour first: a window that repaints on the caption change shows the word in its
    // final colour at once.
    switch (verdict) {
        case Verdict::Pass:
            label.SetForeColor(kPassColor);
            label.SetCaption(words.pass);
            break;
        case Verdict::Fail:
            label.SetForeColor(kFailColor);
            label.SetCaption(words.fail);
            break;
        case Verdict::NoChange:
            break;
    }
}

void CheckMarkerFile(FileSystem& files, TextCodec& text, const std::wstring& path,
                     StatusLabel& label, const StatusWords& words) {
    const MarkerField field = ReadMarkerField(files, text, path);
    PaintStatusLabel(label, DecideVerdict(field), words);
    // After the paint, so that colour and caption keep their order; the reason is kept
    // for every verdict, a "-" left by "cannot look" most of all.
    if (!field.reason.empty()) label.SetReason(field.reason);
}

std::wstring SafeReasonText(std::wstring_view raw) {
    std::wstring out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<std::uint32_t>(raw[i]);
        if (c == L'\t') {
            out.push_back(L' ');
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF ||
                   c > 0x10FFFF) {
            // A NUL would end the tooltip's text early; other controls draw as boxes or
            // move the caret. None of them is something the companion writes.
            out.push_back(L'\uFFFD');
        } else if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < raw.size() && raw[i + 1] >= 0xDC00 && raw[i + 1] <= 0xDFFF) {
                out.push_back(raw[i]);
                out.push_back(raw[++i]);
            } else {
                out.push_back(L'\uFFFD');
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            out.push_back(L'\uFFFD');
        } else {
            out.push_back(raw[i]);
        }
    }
    const auto first = std::find_if_not(out.begin(), out.end(), IsBlank);
    const auto last = std::find_if_not(out.rbegin(), out.rend(), IsBlank).base();
    return first < last ? std::wstring(first, last) : std::wstring();
}

}  // namespace qtk
