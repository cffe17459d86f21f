#include "checks/marker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "fakes.h"
#include "platform/text_stream.h"

namespace qtk::testing {
namespace {

using namespace std::string_literals;

const std::string kName = "marker.txt";
const std::wstring kPath = L"C:\\tmptk\\marker.txt";
const std::string kLogPath = "C:\\tmptk\\marker.txt";
constexpr std::string_view kLabel = "userteskquorin";
constexpr std::size_t kChunk = TextStream::kChunkBytes;

std::string Utf8Bom(std::string_view text) { return "\xEF\xBB\xBF"s + std::string(text); }

std::string Utf16(std::u16string_view text, bool little_endian) {
    std::string out = little_endian ? "\xFF\xFE"s : "\xFE\xFF"s;
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out += little_endian ? std::string{low, high} : std::string{high, low};
    }
    return out;
}

// One check row as a run sees it: its own directory, codec and freshly laid-out label.
struct Row {
    EventLog log;
    DirFileSystem files{log};
    Latin1Codec codec;
    RecordingBoard board{log};
    const Colour initial_colour = board.ForeColor(kLabel);

    MarkerField Read(const std::string& bytes, TextCodec* text = nullptr) {
        files.Write(kName, bytes);
        return ReadMarkerField(files, text ? *text : codec, kPath);
    }
    void Check(const std::string& bytes, const StatusWords& words = kSuccessWords) {
        files.Write(kName, bytes);
        CheckMarkerFile(files, codec, kPath, board.Label(kLabel), words);
    }
    bool LabelWritten() const {
        return std::any_of(log.begin(), log.end(), [](const std::string& line) {
            return line.rfind("color ", 0) == 0 || line.rfind("caption ", 0) == 0;
        });
    }
    void ExpectPainted(Verdict verdict, const StatusWords& words = kSuccessWords) {
        switch (verdict) {
            case Verdict::Pass:
                EXPECT_EQ(board.Caption(kLabel), words.pass);
                EXPECT_EQ(board.ForeColor(kLabel), kPassColor);
                break;
            case Verdict::Fail:
                EXPECT_EQ(board.Caption(kLabel), words.fail);
                EXPECT_EQ(board.ForeColor(kLabel), kFailColor);
                break;
            case Verdict::NoChange:
                EXPECT_FALSE(LabelWritten());
                EXPECT_EQ(board.Caption(kLabel), L"-");
                EXPECT_EQ(board.ForeColor(kLabel), initial_colour);
                break;
        }
    }
};

struct FieldCase {
    const char* name;
    std::string bytes;
    std::wstring field;
    Verdict verdict;
};

// Single-byte files as the set-up scripts write them.
const std::vector<FieldCase>& AnsiCases() {
    static const std::vector<FieldCase> cases{
        {"ok then CR LF", "ok\r\n", L"ok", Verdict::Pass},
        {"ok then LF", "ok\n", L"ok", Verdict::Pass},
        {"ok then CR", "ok\r", L"ok", Verdict::Pass},
        {"ok without line end", "ok", L"ok", Verdict::Pass},
        {"okay", "okay\r\n", L"okay", Verdict::Pass},
        {"ok done", "ok done\r\n", L"ok done", Verdict::Pass},
        {"ok,fail", "ok,fail\r\n", L"ok", Verdict::Pass},
        {"trailing blanks", "ok   \r\n", L"ok   ", Verdict::Pass},
        {"upper case OK", "OK\r\n", L"OK", Verdict::Fail},
        {"mixed Ok", "Ok\r\n", L"Ok", Verdict::Fail},
        {"mixed oK", "oK", L"oK", Verdict::Fail},
        {"not ok", "not ok\r\n", L"not ok", Verdict::NoChange},
        {"xok", "xok", L"xok", Verdict::NoChange},
        {"first occurrence decides: ook", "ook", L"ook", Verdict::NoChange},
        {"token later, blanks after", "x ok  ", L"x ok  ", Verdict::NoChange},
        {"fail,ok", "fail,ok\r\n", L"fail", Verdict::Fail},
        {"empty first line, CR LF", "\r\nok\r\n", L"", Verdict::Fail},
        {"empty first line, LF", "\nok", L"", Verdict::Fail},
        {"empty first line, CR", "\rok", L"", Verdict::Fail},
        {"empty first field", ",ok", L"", Verdict::Fail},
        {"blanks then line end", "   \r\nok", L"", Verdict::Fail},
        {"blanks only", "   ", L"", Verdict::Fail},
        {"leading spaces", "   ok\r\n", L"ok", Verdict::Pass},
        {"leading tabs", "\t\tok\r\n", L"ok", Verdict::Pass},
        {"spaces and tabs", " \t ok", L"ok", Verdict::Pass},
        {"no-break space is not a blank", "\xA0ok", L"\u00A0ok", Verdict::NoChange},
        {"quoted ok", "\"ok\"\r\n", L"ok", Verdict::Pass},
        {"blanks then quoted ok", "  \"ok\"", L"ok", Verdict::Pass},
        {"comma inside quotes", "\"ok,still\",x", L"ok,still", Verdict::Pass},
        {"quoted token later", "\"not ok\"", L"not ok", Verdict::NoChange},
        {"quoted comma hides nothing", "\"a,ok\"", L"a,ok", Verdict::NoChange},
        {"line ends inside quotes", "\"\r\nok\"", L"\r\nok", Verdict::NoChange},
        {"unterminated quote runs to the end", "\"ok\r\nmore", L"ok\r\nmore", Verdict::Pass},
        {"empty quotes", "\"\"ok", L"", Verdict::Fail},
        {"text after the closing quote", "\"x\"ok", L"x", Verdict::Fail},
        {"quote inside a plain field", "o\"k\"", L"o\"k\"", Verdict::Fail},
        {"o k", "o k", L"o k", Verdict::Fail},
        {"digit zero", "0k", L"0k", Verdict::Fail},
        {"lone o", "o", L"o", Verdict::Fail},
        {"second line never counts", "no\r\nok", L"no", Verdict::Fail},
        {"Latin-1 letter before the token", "\xE9ok", L"\u00E9ok", Verdict::NoChange},
    };
    return cases;
}

// Files an editor may leave behind: a byte-order mark decides how they read.
const std::vector<FieldCase>& EncodedCases() {
    static const std::vector<FieldCase> cases{
        {"UTF-8 ok", Utf8Bom("ok\r\n"), L"ok", Verdict::Pass},
        {"UTF-8 blanks then ok", Utf8Bom(" \tok"), L"ok", Verdict::Pass},
        {"UTF-8 OK", Utf8Bom("OK"), L"OK", Verdict::Fail},
        {"UTF-8 two-byte letter", Utf8Bom("\xC3\xA9ok"), L"\u00E9ok", Verdict::NoChange},
        {"UTF-8 stray byte", Utf8Bom("\xFFok"), L"\uFFFDok", Verdict::NoChange},
        {"UTF-8 cut sequence keeps the comma", Utf8Bom("\xE2\x82,ok"), L"\uFFFD", Verdict::Fail},
        {"UTF-8 cut by the end of the file", Utf8Bom("ok\xE2\x82"), L"ok\uFFFD", Verdict::Pass},
        {"UTF-8 mark only", Utf8Bom(""), L"", Verdict::Fail},
        {"UTF-16LE ok", Utf16(u"ok\r\n", true), L"ok", Verdict::Pass},
        {"UTF-16BE ok", Utf16(u"ok\r\n", false), L"ok", Verdict::Pass},
        {"UTF-16LE not ok", Utf16(u"not ok", true), L"not ok", Verdict::NoChange},
        {"UTF-16BE quoted", Utf16(u"  \"a,ok\"", false), L"a,ok", Verdict::NoChange},
        {"UTF-16LE Thai", Utf16(u"\u0E01ok", true), L"\u0E01ok", Verdict::NoChange},
        {"UTF-16LE mark only", Utf16(u"", true), L"", Verdict::Fail},
        {"UTF-16LE odd last byte", Utf16(u"o", true) + "k", L"o\uFFFD", Verdict::Fail},
        // Without a mark the bytes are ANSI: a UTF-16 file without one is not guessed at.
        {"UTF-16LE without mark", "o\0k\0"s, std::wstring(L"o\0k\0", 4), Verdict::Fail},
    };
    return cases;
}

void ExpectField(const std::vector<FieldCase>& cases) {
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        const MarkerField field = row.Read(c.bytes);
        EXPECT_EQ(field.head, c.field);
        EXPECT_EQ(field.length, c.field.size());
        EXPECT_EQ(DecideVerdict(field), c.verdict);
        EXPECT_EQ(DecideVerdict(field.head), c.verdict);
        EXPECT_EQ(row.files.open_files, 0);
    }
}

TEST(ReadMarkerFieldTest, AnsiFiles) { ExpectField(AnsiCases()); }

TEST(ReadMarkerFieldTest, FilesWithAByteOrderMark) { ExpectField(EncodedCases()); }

TEST(CheckMarkerFileTest, PaintsTheVerdictOfEveryCase) {
    for (const auto* cases : {&AnsiCases(), &EncodedCases()}) {
        for (const FieldCase& c : *cases) {
            SCOPED_TRACE(c.name);
            Row row;
            row.Check(c.bytes);
            row.ExpectPainted(c.verdict);
        }
    }
}

TEST(CheckMarkerFileTest, EnablePairUsesTheSameColours) {
    const struct {
        const char* name;
        std::string bytes;
        Verdict verdict;
    } cases[] = {
        {"pass", "ok\r\n", Verdict::Pass},
        {"fail", "OK\r\n", Verdict::Fail},
        {"no change", "not ok\r\n", Verdict::NoChange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        row.Check(c.bytes, kEnableWords);
        row.ExpectPainted(c.verdict, kEnableWords);
    }
}

TEST(CheckMarkerFileTest, ClosesTheFileBeforeColourThenCaption) {
    const struct {
        const char* name;
        std::string bytes;
        EventLog expected;
    } cases[] = {
        {"pass",
         "ok\r\n",
         {"open " + kLogPath, "read " + kLogPath + " 4", "close " + kLogPath,
          "color userteskquorin 0xC000", "caption userteskquorin Success"}},
        {"fail",
         "no\r\n",
         {"open " + kLogPath, "read " + kLogPath + " 4", "close " + kLogPath,
          "color userteskquorin 0xFF", "caption userteskquorin Fail"}},
        {"no change writes nothing",
         "x ok\r\n",
         {"open " + kLogPath, "read " + kLogPath + " 6", "close " + kLogPath}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        row.Check(c.bytes);
        EXPECT_EQ(row.log, c.expected);
    }
}

TEST(CheckMarkerFileTest, RowsOfAGroupNeverHoldTwoFilesOpen) {
    EventLog log;
    DirFileSystem files{log};
    Latin1Codec codec;
    RecordingBoard board{log};
    const std::pair<const char*, const char*> rows[] = {
        {"www_tesk.txt", "userteskquorin"}, {"www_kessor.txt", "userkessor"},
        {"www_omvar.txt", "useromvar"}};
    for (const auto& [file, label] : rows) files.Write(file, "ok\r\n");
    for (const auto& [file, label] : rows) {
        CheckMarkerFile(files, codec, L"C:\\tmptk\\" + Widen(file), board.Label(label),
                        kSuccessWords);
    }
    EXPECT_EQ(files.max_open_files, 1);
    EXPECT_EQ(files.open_files, 0);
    for (const auto& [file, label] : rows) EXPECT_EQ(board.Caption(label), L"Success") << label;
}

// The field's head is bounded, and the text arrives in chunks; the token must be found
// wherever those two cut it.
TEST(ReadMarkerFieldTest, TokenAcrossChunkAndHeadBoundaries) {
    const struct {
        const char* name;
        std::string bytes;
        std::uint64_t length;
        Verdict verdict;
        std::wstring head_tail;  // the last characters of the kept head
    } cases[] = {
        {"token split by the first chunk", std::string(kChunk - 1, 'x') + "ok", kChunk + 1,
         Verdict::NoChange, L"xxx"},
        {"blanks run past a chunk, then ok", std::string(kChunk - 1, ' ') + "ok\r\n", 2,
         Verdict::Pass, L"ok"},
        {"blanks over several chunks", std::string(3 * kChunk + 17, '\t') + "ok", 2,
         Verdict::Pass, L"ok"},
        {"token just past the head", std::string(kMarkerHeadLimit, 'x') + "ok",
         kMarkerHeadLimit + 2, Verdict::NoChange, L"xxx"},
        {"token straddling the head's end", std::string(kMarkerHeadLimit - 1, 'x') + "ok",
         kMarkerHeadLimit + 1, Verdict::NoChange, L"xxo"},
        {"long field that begins ok", std::string("ok") + std::string(10000, 'x') + "\r\n", 10002,
         Verdict::Pass, L"xxx"},
        {"long field without the token", std::string(3 * kChunk, 'x') + ",ok", 3 * kChunk,
         Verdict::Fail, L"xxx"},
        {"comma far inside quotes", std::string(1, '"') + std::string(2 * kChunk, 'x') + ",ok\"",
         2 * kChunk + 3, Verdict::NoChange, L"xxx"},
        {"UTF-8 letter split by the first chunk",
         Utf8Bom(std::string(kChunk - 4, 'x') + "\xC3\xA9ok"), kChunk - 4 + 3,
         Verdict::NoChange, L"xxx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        const MarkerField field = row.Read(c.bytes);
        EXPECT_EQ(field.length, c.length);
        EXPECT_EQ(field.head.size(), std::min<std::uint64_t>(c.length, kMarkerHeadLimit));
        EXPECT_TRUE(field.head.ends_with(c.head_tail)) << Narrow(field.head);
        EXPECT_EQ(DecideVerdict(field), c.verdict);
    }
}

// A double-byte code page: 0x81..0x9F open a character, any byte may follow.
class DoubleByteCodec : public Latin1Codec {
public:
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring out;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (!IsLeadByte(b)) {
                out += static_cast<wchar_t>(b);
            } else if (i + 1 == bytes.size()) {
                out += L'\uFFFD';
            } else {
                out += static_cast<wchar_t>(0x4E00 + ((b - 0x81) << 8) +
                                            static_cast<unsigned char>(bytes[++i]));
            }
        }
        return out;
    }
    bool IsLeadByte(unsigned char byte) override { return byte >= 0x81 && byte <= 0x9F; }
};

TEST(ReadMarkerFieldTest, DoubleByteCharacterIsNeverSplitBetweenChunks) {
    const struct {
        const char* name;
        std::string bytes;
        Verdict verdict;
    } cases[] = {
        // The trail byte is an 'o': split, it would pair with the 'k' after it.
        {"lead byte ends the chunk", std::string(kChunk - 1, 'x') + "\x81ok", Verdict::Fail},
        // The trail byte looks like a lead byte: only a walk from the start tells.
        {"trail byte in the lead range ends the chunk",
         std::string(kChunk - 2, 'x') + "\x81\x81ok", Verdict::NoChange},
        {"lead byte at the very end", "ok\x81", Verdict::Pass},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        DoubleByteCodec codec;
        EXPECT_EQ(DecideVerdict(row.Read(c.bytes, &codec)), c.verdict);
    }
}

TEST(ReadMarkerFieldTest, StopsReadingAtTheEndOfTheField) {
    // A marker of several MiB that begins "ok,": the size of the file must not matter.
    Row row;
    std::string bytes = "ok,";
    bytes.resize(4u << 20, 'x');
    const MarkerField field = row.Read(bytes);
    EXPECT_EQ(DecideVerdict(field), Verdict::Pass);
    EXPECT_LE(row.files.bytes_read, kChunk);
    EXPECT_EQ(row.log, (EventLog{"open " + kLogPath, "read " + kLogPath + " 4096",
                                 "close " + kLogPath}));
}

TEST(ReadMarkerFieldTest, FailuresNameTheMarkerAndPaintNothing) {
    const struct {
        const char* name;
        void (*arrange)(DirFileSystem&);
        std::uint32_t code;
        std::wstring action;
    } cases[] = {
        {"zero bytes", [](DirFileSystem& fs) { fs.Write(kName, ""); }, win_error::kHandleEof,
         L"The marker file is empty"},
        {"missing", [](DirFileSystem&) {}, win_error::kFileNotFound,
         L"Cannot open the marker file"},
        {"directory at the path", [](DirFileSystem& fs) { fs.MakeDirectory(kName); },
         win_error::kAccessDenied, L"Cannot open the marker file"},
        {"locked by another process",
         [](DirFileSystem& fs) {
             fs.Write(kName, "ok\r\n");
             fs.FailOpen(kName, win_error::kSharingViolation);
         },
         win_error::kSharingViolation, L"Cannot open the marker file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        c.arrange(row.files);
        try {
            CheckMarkerFile(row.files, row.codec, kPath, row.board.Label(kLabel), kSuccessWords);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code, c.code);
            EXPECT_EQ(failure.action, c.action);
            EXPECT_EQ(failure.subject, kPath);
        }
        EXPECT_EQ(row.files.open_files, 0);
        row.ExpectPainted(Verdict::NoChange);
    }
}

// A file served from memory a few bytes per read, as a pipe or a network share may hand
// it over, and optionally failing part-way as a disk error would. Its destructor does not
// close, so a reader that forgot to close is caught.
class TrickleFileSystem : public FileSystem {
public:
    TrickleFileSystem(std::string bytes, std::size_t step) : bytes_(std::move(bytes)), step_(step) {}
    std::unique_ptr<InputFile> OpenForReading(const std::wstring& path) override {
        closed = false;
        return std::make_unique<File>(*this, path);
    }
    bool closed = false;
    std::optional<std::size_t> fail_at;  // byte offset whose read throws

private:
    class File : public InputFile {
    public:
        File(TrickleFileSystem& fs, std::wstring path) : fs_(fs), path_(std::move(path)) {}
        std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
            if (fs_.closed) throw Failure{6, L"Read from a closed file", path_};
            if (fs_.fail_at && at_ >= *fs_.fail_at) throw Failure{23, L"Cannot read", path_};
            const std::size_t n = std::min({capacity, fs_.step_, fs_.bytes_.size() - at_});
            std::copy_n(fs_.bytes_.data() + at_, n, reinterpret_cast<char*>(buffer));
            at_ += n;
            return n;
        }
        void Close() override { fs_.closed = true; }

    private:
        TrickleFileSystem& fs_;
        std::wstring path_;
        std::size_t at_ = 0;
    };
    std::string bytes_;
    std::size_t step_;
};

TEST(ReadMarkerFieldTest, ShortReadsSplitNothing) {
    for (std::size_t step : {1, 2, 3}) {
        for (const auto* cases : {&AnsiCases(), &EncodedCases()}) {
            for (const FieldCase& c : *cases) {
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(step) + " per read");
                TrickleFileSystem files(c.bytes, step);
                Latin1Codec codec;
                const MarkerField field = ReadMarkerField(files, codec, kPath);
                EXPECT_EQ(field.head, c.field);
                EXPECT_EQ(DecideVerdict(field), c.verdict);
                EXPECT_TRUE(files.closed);
            }
        }
    }
}

// Past the head the scan passes over runs of text whole; the token and every kind of
// field end must be seen at any position within such a run.
TEST(ReadMarkerFieldTest, TokenAndEndsAtEveryOffsetPastTheHead) {
    const struct {
        const char* name;
        std::string open;    // what the file begins with
        std::string marker;  // placed at the offset
        std::uint64_t length_past_offset;
        Verdict verdict;
    } cases[] = {
        {"token", "", "ok", 2 + 100, Verdict::NoChange},
        {"comma", "", ",ok", 0, Verdict::Fail},
        {"CR", "", "\rok", 0, Verdict::Fail},
        {"LF", "", "\nok", 0, Verdict::Fail},
        {"quoted: comma does not end it", "\"", ",ok", 3 + 100, Verdict::NoChange},
        {"quoted: closing quote", "\"", "\"ok", 0, Verdict::Fail},
    };
    Latin1Codec codec;
    for (const auto& c : cases) {
        for (std::size_t offset = kMarkerHeadLimit - 2; offset < kMarkerHeadLimit + 70; ++offset) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(offset));
            TrickleFileSystem files(c.open + std::string(offset, 'x') + c.marker +
                                        std::string(100, 'x'),
                                    kChunk);
            const MarkerField field = ReadMarkerField(files, codec, kPath);
            ASSERT_EQ(field.length, offset + c.length_past_offset);
            ASSERT_EQ(DecideVerdict(field), c.verdict);
        }
    }
}

// On Windows wchar_t is UTF-16; a codec built on a 32-bit wchar_t may hand back whole code
// points, which must come out as the same surrogate pairs.
class AstralCodec : public Latin1Codec {
public:
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring out = Latin1Codec::FromAnsi(bytes);
        for (wchar_t& c : out) {
            if (c == 0xF0) c = static_cast<wchar_t>(0x1F600);
        }
        return out;
    }
};

TEST(ReadMarkerFieldTest, CodePointsBeyondTheBmpBecomeSurrogatePairs) {
    Row row;
    AstralCodec codec;
    const MarkerField field = row.Read("\xF0ok", &codec);
    EXPECT_EQ(field.head, (std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00),
                                        L'o', L'k'}));
    EXPECT_EQ(DecideVerdict(field), Verdict::NoChange);
}

TEST(CheckMarkerFileTest, ReadErrorTravelsUpAndPaintsNothing) {
    EventLog log;
    RecordingBoard board{log};
    TrickleFileSystem files(std::string(2 * kChunk, 'x'), kChunk);
    files.fail_at = kChunk;
    Latin1Codec codec;
    try {
        CheckMarkerFile(files, codec, kPath, board.Label(kLabel), kSuccessWords);
        ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code, 23u);
    }
    EXPECT_TRUE(log.empty());
}

TEST(CheckMarkerFileTest, RefusedLabelWriteTravelsUpAfterTheFileIsClosed) {
    Row row;
    row.board.RefuseWrites(kLabel, 1400);
    try {
        row.Check("ok\r\n");
        ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code, 1400u);
    }
    EXPECT_EQ(row.files.open_files, 0);
    EXPECT_EQ(row.log.back(), "close " + kLogPath);
}

}  // namespace
}  // namespace qtk::testing

namespace qtk::testing {
namespace {

// The reason: the rest of the first line after the field, as the companion writes it
// ("cannot look,<why>", "ok,<evidence>"), never changing the verdict.
TEST(ReadMarkerFieldTest, ReasonIsTheRestOfTheFirstLine) {
    const struct {
        const char* name;
        std::string bytes;
        std::wstring reason;
        Verdict verdict;
    } cases[] = {
        {"cannot look with why", "cannot look,access denied (error 5) reading HKLM\\x\r\n",
         L"access denied (error 5) reading HKLM\\x", Verdict::NoChange},
        {"ok with evidence", "ok,mapped by HKCU ZoneMap\\Domains\\qrn.example\r\nok\r\n",
         L"mapped by HKCU ZoneMap\\Domains\\qrn.example", Verdict::Pass},
        {"fail with why, LF only", "fail,not installed\nmore", L"not installed", Verdict::Fail},
        {"reason to the end of the file", "fail,no line end", L"no line end", Verdict::Fail},
        {"later commas belong to the reason", "fail,a,b,c\r\n", L"a,b,c", Verdict::Fail},
        {"blanks around it go", "ok,  \t spaced \t \r\n", L"spaced", Verdict::Pass},
        {"nothing after the field", "ok\r\n", L"", Verdict::Pass},
        {"nothing after the field, no line end", "fail", L"", Verdict::Fail},
        {"comma then nothing", "ok,\r\n", L"", Verdict::Pass},
        {"comma then blanks", "ok,   \r\n", L"", Verdict::Pass},
        {"second line is no reason", "fail\r\nbecause\r\n", L"", Verdict::Fail},
        {"quoted field then comma", "\"ok\",quoted evidence\r\n", L"quoted evidence",
         Verdict::Pass},
        {"quoted field, text straight after", "\"x\"ok\r\n", L"ok", Verdict::Fail},
        {"quoted field, comma inside", "\"a,ok\",why\r\n", L"why", Verdict::NoChange},
        {"quoted field then line end", "\"ok\"\r\nwhy", L"", Verdict::Pass},
        {"empty first field", ",ok\r\n", L"ok", Verdict::Fail},
        {"UTF-8 reason", Utf8Bom("fail,\xE0\xB8\x81 Thai\r\n"), L"\u0E01 Thai", Verdict::Fail},
        {"UTF-16 reason", Utf16(u"ok,\u0E01\u0E02\r\n", true), L"\u0E01\u0E02", Verdict::Pass},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        const MarkerField field = row.Read(c.bytes);
        EXPECT_EQ(field.reason, c.reason);
        EXPECT_EQ(DecideVerdict(field), c.verdict);
        EXPECT_EQ(row.files.open_files, 0);
    }
}

// Text that is not valid in the marker's encoding, or that would break a tooltip or a
// tab-separated line, is shown as U+FFFD or a blank, never passed on raw.
TEST(ReadMarkerFieldTest, ReasonIsMadeSafeToShow) {
    const struct {
        const char* name;
        std::string bytes;
        std::wstring reason;
    } cases[] = {
        {"NUL inside", "fail,a\0b\r\n"s, L"a\uFFFDb"},
        {"tab inside", "fail,a\tb\r\n", L"a b"},
        {"escape and DEL", "fail,\x1B[31m\x7F\r\n", L"\uFFFD[31m\uFFFD"},
        {"C1 control from Latin-1", "fail,a\x85z\r\n", L"a\uFFFDz"},
        {"UTF-8 stray byte", Utf8Bom("fail,a\xFFz\r\n"), L"a\uFFFDz"},
        {"UTF-8 encoded surrogate", Utf8Bom("fail,\xED\xA0\x80z"), L"\uFFFD\uFFFD\uFFFDz"},
        {"UTF-16 lone high surrogate", Utf16(u"fail,a\xD800z", true), L"a\uFFFDz"},
        {"UTF-16 lone low surrogate", Utf16(u"fail,\xDC00", true), L"\uFFFD"},
        {"UTF-16 noncharacter", Utf16(u"fail,\xFFFF", true), L"\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        EXPECT_EQ(row.Read(c.bytes).reason, c.reason);
    }
    // A valid pair survives whole.
    const std::wstring pair = SafeReasonText(std::wstring{L'a', static_cast<wchar_t>(0xD83D),
                                                          static_cast<wchar_t>(0xDE00)});
    EXPECT_EQ(pair.size(), 3u);
}

// Whatever the line's length, only kReasonLimit units of it are looked at; a cut reason
// says so with an ellipsis, and a huge first line costs one chunk like a short one.
TEST(ReadMarkerFieldTest, ReasonIsBoundedWhateverTheFileSize) {
    const std::string at_limit(kReasonLimit, 'r');
    const struct {
        const char* name;
        std::string bytes;
        std::wstring reason;
    } cases[] = {
        {"exactly the limit, then line end", "fail," + at_limit + "\r\n",
         std::wstring(kReasonLimit, L'r')},
        {"exactly the limit, then end of file", "fail," + at_limit,
         std::wstring(kReasonLimit, L'r')},
        {"one more", "fail," + at_limit + "s\r\n", std::wstring(kReasonLimit, L'r') + L"\u2026"},
        {"blanks count too", "fail," + std::string(kReasonLimit, ' ') + "late\r\n", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        EXPECT_EQ(row.Read(c.bytes).reason, c.reason);
    }

    Row row;
    std::string huge = "cannot look,";
    huge.resize(8u << 20, 'x');
    const MarkerField field = row.Read(huge);
    EXPECT_EQ(field.reason.size(), kReasonLimit + 1);
    EXPECT_EQ(DecideVerdict(field), Verdict::NoChange);
    EXPECT_LE(row.files.bytes_read, kChunk);

    // A reason that starts near the end of a chunk is finished from the next one, still
    // within the same open file.
    Row split;
    const MarkerField cut = split.Read(std::string(kChunk - 6, 'o') + ",why it failed\r\n");
    EXPECT_EQ(cut.reason, L"why it failed");
    EXPECT_EQ(split.log.back(), "close " + kLogPath);
}

TEST(ReadMarkerFieldTest, ReasonSurvivesShortReads) {
    for (std::size_t step : {1, 2, 5}) {
        SCOPED_TRACE(std::to_string(step) + " per read");
        TrickleFileSystem files(Utf8Bom("\"ok\", evidence \xE0\xB8\x81\r\nnext"), step);
        Latin1Codec codec;
        const MarkerField field = ReadMarkerField(files, codec, kPath);
        EXPECT_EQ(field.reason, L"evidence \u0E01");
        EXPECT_TRUE(files.closed);
    }
}

// The reason reaches the label after colour and caption, for a "-" as much as for a word,
// and a marker with nothing after its field gives the label none.
TEST(CheckMarkerFileTest, ReasonGoesToTheLabelAfterThePaint) {
    const struct {
        const char* name;
        std::string bytes;
        EventLog expected_writes;
    } cases[] = {
        {"pass with evidence", "ok,mapped\r\n",
         {"color userteskquorin 0xC000", "caption userteskquorin Success",
          "reason userteskquorin mapped"}},
        {"cannot look keeps the dash", "cannot look,access denied\r\n",
         {"reason userteskquorin access denied"}},
        {"nothing after the field", "fail\r\n",
         {"color userteskquorin 0xFF", "caption userteskquorin Fail"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Row row;
        row.Check(c.bytes);
        EventLog writes;
        for (const std::string& e : row.log) {
            if (!e.starts_with("open ") && !e.starts_with("read ") && !e.starts_with("close ")) {
                writes.push_back(e);
            }
        }
        EXPECT_EQ(writes, c.expected_writes);
        EXPECT_EQ(row.log.size(), 3 + c.expected_writes.size());  // open, read, close first
    }
}

}  // namespace
}  // namespace qtk::testing
