// A file that keeps growing while it is read (a script still writing it, a log someone
// appends to) is read only as far as it reached when it was opened: the readers end, and
// what they return is what the file held then.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "checks/marker.h"
#include "fakes.h"
#include "identity/os_line.h"
#include "platform/text_stream.h"

namespace qtk::testing {
namespace {

const std::wstring kPath = L"C:\\tmptk\\growing.txt";

// Opens with `start` as its content and size; every read then finds `tail` appended
// again, without end, as a writer that never stops would leave it.
class GrowingFileSystem : public FileSystem {
public:
    static constexpr std::uint64_t kRunaway = 1 << 20;

    GrowingFileSystem(std::string start, std::string tail)
        : start_(std::move(start)), tail_(std::move(tail)) {}

    std::unique_ptr<InputFile> OpenForReading(const std::wstring&) override {
        return std::make_unique<File>(*this);
    }

    std::uint64_t bytes_read = 0;

private:
    class File : public InputFile {
    public:
        explicit File(GrowingFileSystem& fs) : fs_(fs), content_(fs.start_) {}
        std::uint64_t SizeAtOpen() const override { return fs_.start_.size(); }
        std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
            // A reader that ignores the size would go on for ever; stop it, failing.
            if (fs_.bytes_read > fs_.start_.size() + kRunaway) {
                throw Failure{win_error::kInvalidParameter, L"Read on and on", kPath};
            }
            while (content_.size() - at_ < capacity) content_ += fs_.tail_;
            std::copy_n(content_.data() + at_, capacity, reinterpret_cast<char*>(buffer));
            at_ += capacity;
            fs_.bytes_read += capacity;
            return capacity;
        }
        void Close() override {}

    private:
        GrowingFileSystem& fs_;
        std::string content_;
        std::size_t at_ = 0;
    };

    std::string start_;
    std::string tail_;
};

TEST(GrowingFileTest, MarkerIsReadOnlyAsFarAsItWasWhenOpened) {
    const struct {
        const char* label;
        std::string start;
        std::string tail;  // never ends the field: blanks, text, NUL bytes
        Verdict verdict;
    } cases[] = {
        {"blanks only: the field is empty", "   ", " ", Verdict::Fail},
        {"ok, then text without end", "ok", "x", Verdict::Pass},
        {"a field of NUL bytes", std::string(5, '\0'), std::string(1, '\0'), Verdict::Fail},
        {"text, then 'ok' appended later", "  x", "ok", Verdict::Fail},
        {"a field longer than a read chunk", std::string(3 * TextStream::kChunkBytes + 7, 'y'),
         "y", Verdict::Fail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GrowingFileSystem files(c.start, c.tail);
        Latin1Codec codec;
        const MarkerField field = ReadMarkerField(files, codec, kPath);
        EXPECT_EQ(DecideVerdict(field), c.verdict);
        EXPECT_LE(files.bytes_read, c.start.size());
    }
}

TEST(GrowingFileTest, VersionLineIsReadOnlyAsFarAsItWasWhenOpened) {
    const struct {
        const char* label;
        std::string start;
        std::string tail;  // never a CR
        std::wstring line;
    } cases[] = {
        {"fail, then more without a line end", "fail", "d", L"fail"},
        {"a version, then blanks", "6.1.7601", " ", L"6.1.7601"},
        {"a line end before the growth", "10.0\r\n", "x", L"10.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        GrowingFileSystem files(c.start, c.tail);
        Latin1Codec codec;
        EXPECT_EQ(ReadVersionLine(files, codec, kPath), c.line);
        EXPECT_LE(files.bytes_read, c.start.size());
    }
}

// Empty when opened, written to since: as empty as it was, so the run ends with the
// error report rather than read whatever arrives.
TEST(GrowingFileTest, EmptyWhenOpenedStaysEmpty) {
    Latin1Codec codec;
    {
        GrowingFileSystem files("", "ok");
        try {
            ReadMarkerField(files, codec, kPath);
            ADD_FAILURE() << "an empty marker was read";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code, win_error::kHandleEof);
            EXPECT_EQ(failure.subject, kPath);
        }
        EXPECT_EQ(files.bytes_read, 0u);
    }
    {
        GrowingFileSystem files("", "fail");
        EXPECT_THROW(ReadVersionLine(files, codec, kPath), Failure);
        EXPECT_EQ(files.bytes_read, 0u);
    }
}

}  // namespace
}  // namespace qtk::testing
