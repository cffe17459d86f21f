#include "fleet/report.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>

namespace qtk::fleet {
namespace {

using Json = nlohmann::json;

std::string Cut(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    // Not inside a UTF-8 sequence: back up over continuation bytes.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text + "\xE2\x80\xA6";  // …
}

// Walks the report once, event by event (nlohmann's SAX interface): nothing but the
// fields below is kept, and the walk stops at the first limit or shape broken.
class Reader {
public:
    std::optional<std::string> failure;
    DeskReport desk;

    bool null() { return Scalar(Kind::Null, {}, 0); }
    bool boolean(bool) { return Scalar(Kind::Other, {}, 0); }
    bool number_integer(Json::number_integer_t value) {
        return value < 0 ? Scalar(Kind::Other, {}, 0)
                         : Scalar(Kind::Count, {}, static_cast<std::uint64_t>(value));
    }
    bool number_unsigned(Json::number_unsigned_t value) { return Scalar(Kind::Count, {}, value); }
    bool number_float(Json::number_float_t, const std::string&) { return Scalar(Kind::Other, {}, 0); }
    bool string(std::string& value) {
        if (value.size() > kMaxTextBytes) return Fail("a text at " + Where() + " is too long");
        return Scalar(Kind::Text, value, 0);
    }
    bool binary(Json::binary_t&) { return Fail("binary data"); }
    bool start_object(std::size_t) { return Open(false); }
    bool start_array(std::size_t) { return Open(true); }
    bool key(std::string& name) {
        if (name.size() > kMaxTextBytes) return Fail("a name is too long");
        path_.resize(frames_.back().base);
        path_ += '/';
        path_ += name;
        return true;
    }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
        if (!failure) failure = "not JSON (at byte " + std::to_string(position) + ")";
        return false;
    }

    // After the walk: what the writer always writes, and counts that agree with the rows.
    bool Finish() {
        if (failure) return false;
        static constexpr std::array<std::pair<unsigned, const char*>, 8> kRequired{{
            {kSchema, "schema_version"}, {kTool, "tool.name"}, {kVersion, "tool.version"},
            {kComputer, "computer_name"}, {kStarted, "started_utc"}, {kExit, "exit_code"},
            {kCounts, "counts"}, {kChecks, "checks"}}};
        for (const auto& [bit, name] : kRequired) {
            if ((seen_ & bit) == 0) return Fail(std::string("no ") + name);
        }
        if ((seen_counts_ & 7u) != 7u) return Fail("counts incomplete");
        if (desk.fail != desk.failing_ids.size() || desk.undecided != desk.undecided_ids.size() ||
            desk.pass != passed_) {
            return Fail("counts do not match the checks");
        }
        return true;
    }

private:
    enum class Kind { Null, Text, Count, Other };
    enum : unsigned {
        kSchema = 1, kTool = 2, kVersion = 4, kComputer = 8, kStarted = 16, kExit = 32,
        kCounts = 64, kChecks = 128,
    };
    struct Frame {
        std::size_t base;  // the path's length where this container sits
        bool array;
    };

    bool Fail(std::string why) {
        if (!failure) failure = std::move(why);
        return false;
    }
    std::string Where() const { return path_.empty() ? "/" : path_; }
    bool Wrong() { return Fail(Where() + " has the wrong type or value"); }

    bool Open(bool array) {
        if (frames_.size() >= static_cast<std::size_t>(kMaxDepth)) return Fail("nested too deeply");
        if (frames_.empty() && array) return Fail("not a report (an array)");
        if (!array && path_ == "/checks/#") {
            if (++rows_ > kMaxChecks) return Fail("too many checks");
            row_ = Row{};
        } else if (path_ == "/checks") {
            if (!array) return Wrong();
            seen_ |= kChecks;
        } else if (path_ == "/error") {
            if (array) return Wrong();
        } else if (path_ == "/counts") {
            if (array) return Wrong();
            seen_ |= kCounts;
        } else if (!frames_.empty() && IsScalarField()) {
            return Wrong();
        }
        frames_.push_back({path_.size(), array});
        if (array) path_ += "/#";
        return true;
    }

    bool Close() {
        path_.resize(frames_.back().base);
        frames_.pop_back();
        if (path_ == "/checks/#") return EndRow();
        if (path_ == "/error" && desk.error.empty()) desk.error = "the examination did not complete";
        return true;
    }

    bool EndRow() {
        if (row_.id.empty() || row_.verdict.empty()) return Fail("a check without id or verdict");
        if (row_.verdict == "pass") {
            ++passed_;
        } else if (row_.verdict == "fail") {
            if (desk.failing.size() < kMaxReasonsKept) {
                desk.failing.push_back({row_.id, Cut(row_.reason, kMaxReasonBytes)});
            }
            desk.failing_ids.push_back(std::move(row_.id));
        } else if (row_.verdict == "undecided") {
            desk.undecided_ids.push_back(std::move(row_.id));
        } else {
            return Fail("a check's verdict is not pass, fail or undecided");
        }
        return true;
    }

    // The paths whose value must be a text, a number or null, never a container.
    bool IsScalarField() const {
        static constexpr std::array<std::string_view, 13> kScalars{
            "/schema_version", "/tool/name", "/tool/version", "/computer_name", "/started_utc",
            "/exit_code", "/counts/pass", "/counts/fail", "/counts/undecided",
            "/checks/#/id", "/checks/#/verdict", "/checks/#/reason",
            "/run_context/examined_user/name"};
        for (const std::string_view field : kScalars) {
            if (path_ == field) return true;
        }
        return false;
    }

    bool Scalar(Kind kind, std::string_view text, std::uint64_t count) {
        if (frames_.empty()) return Fail("not a report (no object)");
        const std::string& p = path_;
        if (p.compare(0, 10, "/checks/#/") == 0) {
            std::string* field = p == "/checks/#/id"        ? &row_.id
                                 : p == "/checks/#/verdict" ? &row_.verdict
                                 : p == "/checks/#/reason"  ? &row_.reason
                                                            : nullptr;
            if (field == nullptr) return true;
            if (kind != Kind::Text) return Wrong();
            *field = text;
            return true;
        }
        if (p == "/checks" || p == "/counts" || p == "/checks/#") return Wrong();
        if (p == "/schema_version") {
            if (kind != Kind::Count || count != 1) return Fail("schema_version is not 1");
            seen_ |= kSchema;
        } else if (p == "/tool/name") {
            if (text != "tkexamine") return Fail("not a tkexamine report");
            seen_ |= kTool;
        } else if (p == "/tool/version") {
            if (kind != Kind::Text || text.empty() || text.size() > 64) return Wrong();
            desk.version = text;
            seen_ |= kVersion;
        } else if (p == "/computer_name") {
            if (kind != Kind::Text || text.empty() || text.size() > 256) return Wrong();
            desk.computer_name = text;
            seen_ |= kComputer;
        } else if (p == "/started_utc") {
            const std::optional<std::int64_t> ms = kind == Kind::Text ? ParseUtc(text) : std::nullopt;
            if (!ms) return Fail("started_utc is not a UTC time");
            desk.started_text = text;
            desk.started_ms = *ms;
            seen_ |= kStarted;
        } else if (p == "/exit_code") {
            if (kind != Kind::Count || count > 3) return Wrong();
            desk.exit_code = static_cast<int>(count);
            seen_ |= kExit;
        } else if (p == "/counts/pass" || p == "/counts/fail" || p == "/counts/undecided") {
            if (kind != Kind::Count || count > kMaxChecks) return Wrong();
            const char which = p[8];
            std::uint32_t& slot = which == 'p' ? desk.pass : which == 'f' ? desk.fail : desk.undecided;
            slot = static_cast<std::uint32_t>(count);
            seen_counts_ |= which == 'p' ? 1u : which == 'f' ? 2u : 4u;
        } else if (p == "/run_context/examined_user/name") {
            if (kind == Kind::Text) desk.user = text;
            else if (kind != Kind::Null) return Wrong();
        } else if (p == "/error") {
            if (kind != Kind::Null) return Wrong();
        } else if (p == "/error/description") {
            if (kind != Kind::Text) return Wrong();
            desk.error = Cut(std::string(text), kMaxReasonBytes);
        }
        return true;
    }

    struct Row {
        std::string id, verdict, reason;
    };

    std::vector<Frame> frames_;
    std::string path_;
    Row row_;
    std::size_t rows_ = 0;
    std::uint32_t passed_ = 0;
    unsigned seen_ = 0;
    unsigned seen_counts_ = 0;
};

}  // namespace

ReadResult ReadReport(std::string_view bytes) {
    if (bytes.size() > kMaxReportBytes) {
        return Unreadable{"larger than " + std::to_string(kMaxReportBytes >> 20) + " MiB"};
    }
    Reader reader;
    bool complete = false;
    try {
        complete = Json::sax_parse(bytes.begin(), bytes.end(), &reader) && reader.Finish();
    } catch (const std::exception&) {
        complete = false;  // the library throws on what it cannot represent
    }
    if (!complete) return Unreadable{reader.failure.value_or("not JSON")};
    return std::move(reader.desk);
}

std::optional<std::int64_t> ParseUtc(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS[.mmm]Z
    if (text.size() != 20 && text.size() != 24) return std::nullopt;
    auto number = [&](std::size_t at, std::size_t digits) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text.back() != 'Z') {
        return std::nullopt;
    }
    const auto y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2),
               mi = number(14, 2), s = number(17, 2);
    std::optional<int> ms = 0;
    if (text.size() == 24) ms = text[19] == '.' ? number(20, 3) : std::nullopt;
    if (!y || !mo || !d || !h || !mi || !s || !ms) return std::nullopt;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (*y % 4 == 0 && *y % 100 != 0) || *y % 400 == 0;
    if (*mo < 1 || *mo > 12 || *d < 1 || *d > kDays[*mo - 1] || (*mo == 2 && *d == 29 && !leap) ||
        *h > 23 || *mi > 59 || *s > 60) {
        return std::nullopt;
    }
    // Days since 1970-01-01 in the proleptic Gregorian calendar.
    const int yy = *y - (*mo <= 2 ? 1 : 0);
    const int era = yy / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (*mo + (*mo > 2 ? -3 : 9)) + 2) / 5 + *d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return ((days * 24 + *h) * 60 + *mi) * 60000 + static_cast<std::int64_t>(*s) * 1000 + *ms;
}

std::string FoldAscii(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

int CompareVersions(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        auto take = [](std::string_view& v) {
            std::uint64_t n = 0;
            const char* end = std::from_chars(v.data(), v.data() + v.size(), n).ptr;
            v.remove_prefix(static_cast<std::size_t>(end - v.data()));
            if (!v.empty() && v.front() == '.') {
                v.remove_prefix(1);
            } else {
                v = {};  // "-beta" and the like end the numbers
            }
            return n;
        };
        const std::uint64_t x = take(a), y = take(b);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace qtk::fleet
