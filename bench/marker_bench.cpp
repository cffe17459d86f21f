// What reading a marker costs, on real files: a 3-byte marker, a huge marker that begins
// "ok," (sparse, so it costs no disk), and one long field without a delimiter. The field
// scan is set against two floors measured in the same run: reading the same file in
// 4 KiB chunks without decoding it, and memchr over the same number of bytes in memory.
//
// Own options (before the Google Benchmark ones):
//   --sparse_mib=N  size of the file that begins "ok,"        (default 1024)
//   --field_mib=N   size of the field without a delimiter     (default 256)
//   --dir=PATH      where the files are written                (default: a new temp dir)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "checks/marker.h"
#include "platform/text_stream.h"

namespace {

using namespace qtk;

// ---- the platform, over POSIX files ---------------------------------------------------

class PosixFile : public InputFile {
public:
    PosixFile(int fd, std::uint64_t& bytes_read) : fd_(fd), bytes_read_(bytes_read) {}
    ~PosixFile() override { Close(); }
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        const ssize_t n = ::read(fd_, buffer, capacity);
        if (n < 0) throw Failure{30, L"Cannot read", L""};
        bytes_read_ += static_cast<std::uint64_t>(n);
        return static_cast<std::size_t>(n);
    }
    void Close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    std::uint64_t& bytes_read_;
};

// Serves C:\tmptk\NAME from a directory on disk.
class PosixFileSystem : public FileSystem {
public:
    explicit PosixFileSystem(std::filesystem::path root) : root_(std::move(root)) {}
    std::unique_ptr<InputFile> OpenForReading(const std::wstring& path) override {
        std::string name;
        for (wchar_t c : path.substr(std::wstring_view(L"C:\\tmptk\\").size())) {
            name += static_cast<char>(c);
        }
        const int fd = ::open((root_ / name).c_str(), O_RDONLY);
        if (fd < 0) throw Failure{2, L"Cannot open", path};
        return std::make_unique<PosixFile>(fd, bytes_read);
    }
    std::uint64_t bytes_read = 0;

private:
    std::filesystem::path root_;
};

class Latin1Codec : public TextCodec {
public:
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring out(bytes.size(), L'\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
        }
        return out;
    }
    std::string ToAnsi(std::wstring_view) override { return {}; }
};

// ---- set-up -----------------------------------------------------------------------------

struct Setup {
    std::filesystem::path dir;
    bool own_dir = false;
    std::uint64_t sparse_bytes = 1024ull << 20;
    std::uint64_t field_bytes = 256ull << 20;
    std::vector<char> memory;  // the memchr floor's buffer, field_bytes of 'x'
};

Setup g_setup;

const std::wstring kSmall = L"C:\\tmptk\\small.txt";
const std::wstring kSparse = L"C:\\tmptk\\sparse.txt";
const std::wstring kField = L"C:\\tmptk\\field.txt";

void WriteFile(const std::string& name, const std::string& head, std::uint64_t size,
               char fill, bool sparse) {
    const std::string path = (g_setup.dir / name).string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    bool ok = ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size());
    if (sparse) {
        ok = ok && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    } else {
        // Small blocks, so that the bench's own peak memory is not raised by writing.
        const std::string block(64 * 1024, fill);
        for (std::uint64_t done = head.size(); ok && done < size;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
            ok = ::write(fd, block.data(), n) == static_cast<ssize_t>(n);
            done += n;
        }
    }
    ::close(fd);
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// ---- the cases --------------------------------------------------------------------------

void ReadMarker(benchmark::State& state, const std::wstring& path) {
    PosixFileSystem files(g_setup.dir);
    Latin1Codec codec;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecideVerdict(ReadMarkerField(files, codec, path)));
    }
    state.counters["bytes_read"] = benchmark::Counter(static_cast<double>(files.bytes_read),
                                                      benchmark::Counter::kAvgIterations);
}

void BM_Marker3Bytes(benchmark::State& state) { ReadMarker(state, kSmall); }
void BM_MarkerOkThenHugeFile(benchmark::State& state) { ReadMarker(state, kSparse); }
void BM_MarkerLongField(benchmark::State& state) {
    ReadMarker(state, kField);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(g_setup.field_bytes));
}

void BM_FloorRawRead(benchmark::State& state) {
    PosixFileSystem files(g_setup.dir);
    std::vector<unsigned char> chunk(TextStream::kChunkBytes);
    for (auto _ : state) {
        auto file = files.OpenForReading(kField);
        while (file->Read(chunk.data(), chunk.size()) != 0) benchmark::ClobberMemory();
        file->Close();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(g_setup.field_bytes));
}

void BM_FloorMemchr(benchmark::State& state) {
    const std::vector<char>& memory = g_setup.memory;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::memchr(memory.data(), ',', memory.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(memory.size()));
}

BENCHMARK(BM_Marker3Bytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MarkerOkThenHugeFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MarkerLongField)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorRawRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorMemchr)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration and counters for the summary.
class Recorder : public benchmark::ConsoleReporter {
public:
    struct Result {
        double seconds = 0;
        double bytes_read = 0;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            Result& r = results[run.run_name.function_name];
            r.seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            if (auto c = run.counters.find("bytes_read"); c != run.counters.end()) {
                r.bytes_read = c->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, Result> results;
};

void Summarise(const Recorder& recorder) {
    auto find = [&](const char* name) -> const Recorder::Result* {
        auto it = recorder.results.find(name);
        return it == recorder.results.end() ? nullptr : &it->second;
    };
    const auto* small = find("BM_Marker3Bytes");
    const auto* sparse = find("BM_MarkerOkThenHugeFile");
    const auto* field = find("BM_MarkerLongField");
    const auto* raw = find("BM_FloorRawRead");
    const auto* scan = find("BM_FloorMemchr");
    const double mib = 1024.0 * 1024.0;
    std::printf("\nSummary\n");
    if (small) {
        std::printf("  3-byte marker:                %10.0f bytes read, %9.2f us\n",
                    small->bytes_read, small->seconds * 1e6);
    }
    if (sparse) {
        std::printf("  %6.0f MiB marker, \"ok,\":     %10.0f bytes read, %9.2f us",
                    static_cast<double>(g_setup.sparse_bytes) / mib, sparse->bytes_read,
                    sparse->seconds * 1e6);
        if (small) std::printf("  (%.2fx the 3-byte marker)", sparse->seconds / small->seconds);
        std::printf("\n");
    }
    if (field) {
        const double rate = static_cast<double>(g_setup.field_bytes) / field->seconds / mib;
        std::printf("  %6.0f MiB field, no delim.:  %10.0f bytes read, %9.2f ms, %8.0f MiB/s",
                    static_cast<double>(g_setup.field_bytes) / mib, field->bytes_read,
                    field->seconds * 1e3, rate);
        if (small) std::printf("  (%.0fx the 3-byte marker)", field->seconds / small->seconds);
        std::printf("\n");
        if (raw) {
            std::printf("  floor, raw 4 KiB reads:       %8.0f MiB/s; the scan takes %.2fx as long\n",
                        static_cast<double>(g_setup.field_bytes) / raw->seconds / mib,
                        field->seconds / raw->seconds);
        }
        if (scan) {
            std::printf("  floor, memchr in memory:      %8.0f MiB/s; the scan takes %.2fx as long\n",
                        static_cast<double>(g_setup.field_bytes) / scan->seconds / mib,
                        field->seconds / scan->seconds);
        }
    }
}

std::uint64_t ParseMiB(const char* text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        std::fprintf(stderr, "bad size: %s\n", text);
        std::exit(2);
    }
    return static_cast<std::uint64_t>(value) << 20;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--sparse_mib=", 0) == 0) {
            g_setup.sparse_bytes = ParseMiB(argv[i] + 13);
        } else if (arg.rfind("--field_mib=", 0) == 0) {
            g_setup.field_bytes = ParseMiB(argv[i] + 12);
        } else if (arg.rfind("--dir=", 0) == 0) {
            g_setup.dir = arg.substr(6);
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (g_setup.dir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "qtk-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        g_setup.dir = pattern;
        g_setup.own_dir = true;
    }
    WriteFile("small.txt", "ok\n", 3, 0, false);
    WriteFile("sparse.txt", "ok,", g_setup.sparse_bytes, 0, true);
    WriteFile("field.txt", "", g_setup.field_bytes, 'x', false);

    // Peak memory of one long-field read, before anything in this process has needed a
    // buffer of that size; then the same measure over the memchr floor's own buffer, to
    // show the measure sees a big allocation when there is one.
    {
        PosixFileSystem files(g_setup.dir);
        Latin1Codec codec;
        const long before = PeakRssKiB();
        const MarkerField field = ReadMarkerField(files, codec, kField);
        const long after = PeakRssKiB();
        g_setup.memory.assign(g_setup.field_bytes, 'x');
        const long with_buffer = PeakRssKiB();
        std::printf("Peak RSS growth reading the %llu MiB field: %ld KiB (field length %llu, "
                    "%llu bytes read); for the floor's own buffer: %ld KiB\n",
                    static_cast<unsigned long long>(g_setup.field_bytes >> 20), after - before,
                    static_cast<unsigned long long>(field.length),
                    static_cast<unsigned long long>(files.bytes_read), with_buffer - after);
        std::fflush(stdout);
    }

    int rest_count = static_cast<int>(rest.size());
    benchmark::Initialize(&rest_count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(rest_count, rest.data())) return 2;
    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();
    std::fflush(stdout);
    Summarise(recorder);

    std::error_code ignored;
    for (const char* name : {"small.txt", "sparse.txt", "field.txt"}) {
        std::filesystem::remove(g_setup.dir / name, ignored);
    }
    if (g_setup.own_dir) std::filesystem::remove(g_setup.dir, ignored);
    return 0;
}
