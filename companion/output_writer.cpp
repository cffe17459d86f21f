#include "companion/output_writer.h"

#include <map>

#include "companion/registry_source.h"

namespace qtk::companion {
namespace {

enum class Kind { Temporary, Earlier, NoEarlier };

std::wstring_view Suffix(Kind kind) {
    switch (kind) {
        case Kind::Temporary: return L".tmp";
        case Kind::Earlier: return L".old.tmp";
        case Kind::NoEarlier: return L".none.tmp";
    }
    return L".tmp";
}

std::wstring Beside(const std::wstring& path, std::wstring_view tag, Kind kind) {
    return path + L"." + std::wstring(tag) + std::wstring(Suffix(kind));
}

std::wstring DirectoryOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool IsTag(std::wstring_view text) {
    if (text.empty()) return false;
    for (const wchar_t c : text) {
        const bool alnum = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') ||
                           (c >= L'A' && c <= L'Z');
        if (!alnum) return false;
    }
    return true;
}

constexpr std::uint32_t kFunctionFailed = 1627;  // ERROR_FUNCTION_FAILED

bool IsRetryable(std::uint32_t code) {
    return code == file_error::kSharingViolation || code == file_error::kLockViolation;
}

template <typename Call>
std::uint32_t Retrying(OutputFiles& files, Call call) {
    for (int attempt = 0;; ++attempt) {
        const std::uint32_t code = call();
        if (!IsRetryable(code) || attempt >= kSharingRetries) return code;
        files.Pause(kRetryPauseMs);
    }
}

// Something an earlier run left beside final file `index` of the plan.
struct Leftover {
    std::size_t index = 0;
    std::wstring tag;
    Kind kind = Kind::Temporary;
    std::wstring path;
};

bool EndsWith(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::vector<Leftover> FindLeftovers(const std::vector<OutputFile>& plan,
                                    const std::vector<std::wstring>& names,
                                    const std::wstring& directory) {
    std::vector<Leftover> found;
    for (const std::wstring& name : names) {
        const std::wstring folded = FoldCase(name);
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const std::wstring stem = FoldCase(NameOf(plan[i].path)) + L".";
            if (folded.size() <= stem.size() || folded.compare(0, stem.size(), stem) != 0) continue;
            std::wstring_view rest = std::wstring_view(folded).substr(stem.size());
            Kind kind = Kind::Temporary;
            for (const Kind candidate : {Kind::Earlier, Kind::NoEarlier, Kind::Temporary}) {
                if (EndsWith(rest, Suffix(candidate))) {
                    kind = candidate;
                    rest.remove_suffix(Suffix(candidate).size());
                    break;
                }
                if (candidate == Kind::Temporary) rest = {};
            }
            if (!IsTag(rest)) continue;
            found.push_back({i, std::wstring(rest), kind, directory + L"\\" + name});
            break;
        }
    }
    return found;
}

// A run killed after it moved the seal aside left it missing; its backups give the whole
// earlier set back. Returns false when something could not be put back, in which case
// the backups stay for the next attempt and the seal stays missing.
bool PutBackEarlierSet(OutputFiles& files, const std::vector<OutputFile>& plan,
                       const std::vector<Leftover>& leftovers, const std::wstring& tag) {
    const Leftover* seal = nullptr;
    bool restored = true;
    for (const Leftover& left : leftovers) {
        if (left.tag != tag || left.kind == Kind::Temporary) continue;
        if (left.index == 0) {
            seal = &left;
            continue;
        }
        const std::wstring& final_path = plan[left.index].path;
        if (Retrying(files, [&] { return files.Remove(final_path); }) != 0) {
            restored = false;
        } else if (left.kind == Kind::Earlier) {
            restored &= Retrying(files, [&] { return files.Rename(left.path, final_path); }) == 0;
        } else {
            restored &= files.Remove(left.path) == 0;
        }
    }
    if (!restored || seal == nullptr) return restored;
    if (seal->kind == Kind::Earlier) {
        return Retrying(files, [&] { return files.Rename(seal->path, plan[0].path); }) == 0;
    }
    return files.Remove(seal->path) == 0;
}

}  // namespace

std::vector<std::uint32_t> OutputFiles::WriteEach(const std::vector<NewFile>& files) {
    std::vector<std::uint32_t> codes;
    for (const NewFile& file : files) {
        codes.push_back(WriteWhole(file.path, file.bytes));
        if (codes.back() != 0) break;
    }
    return codes;
}

std::wstring TemporaryPath(const std::wstring& path, std::wstring_view tag) {
    return Beside(path, tag, Kind::Temporary);
}

void RepairAndSweep(OutputFiles& files, const std::vector<OutputFile>& plan) {
    if (plan.empty()) return;
    const std::wstring directory = DirectoryOf(plan[0].path);
    std::vector<std::wstring> names;
    if (files.List(directory, &names) != 0) return;

    bool seal_present = false;
    for (const std::wstring& name : names) {
        if (SameName(name, NameOf(plan[0].path))) seal_present = true;
    }
    std::vector<Leftover> leftovers = FindLeftovers(plan, names, directory);
    std::wstring keep_tag;
    if (!seal_present) {
        for (const Leftover& left : leftovers) {
            if (left.index == 0 && left.kind != Kind::Temporary) {
                if (!PutBackEarlierSet(files, plan, leftovers, left.tag)) keep_tag = left.tag;
                break;
            }
        }
        if (files.List(directory, &names) != 0) return;
        leftovers = FindLeftovers(plan, names, directory);
    }
    for (const Leftover& left : leftovers) {
        if (left.tag == keep_tag && left.kind != Kind::Temporary) continue;
        files.Remove(left.path);
    }
}

std::optional<Failure> WriteAll(OutputFiles& files, const std::vector<OutputFile>& plan,
                                std::wstring_view tag) {
    if (plan.empty()) return std::nullopt;
    RepairAndSweep(files, plan);

    std::vector<std::wstring> temporaries;
    temporaries.reserve(plan.size());
    const auto remove_temporaries = [&] {
        for (const std::wstring& path : temporaries) files.Remove(path);
    };
    std::vector<NewFile> batch;
    batch.reserve(plan.size());
    for (const OutputFile& file : plan) {
        batch.push_back({TemporaryPath(file.path, tag), file.bytes});
    }
    const std::vector<std::uint32_t> codes = files.WriteEach(batch);
    std::optional<Failure> unwritten;
    for (std::size_t i = 0; i < codes.size() && i < batch.size(); ++i) {
        // Listed only when it is ours: what was already at the name is left alone.
        if (codes[i] != file_error::kFileExists) temporaries.push_back(batch[i].path);
        if (codes[i] != 0 && !unwritten) {
            unwritten = Failure{codes[i], L"Cannot write the file", batch[i].path};
        }
    }
    if (!unwritten && codes.size() < batch.size()) {
        // Stopped short without a failure: not to be trusted with the renames.
        unwritten = Failure{kFunctionFailed, L"Cannot write the file", batch[codes.size()].path};
    }
    if (unwritten) {
        remove_temporaries();
        return unwritten;
    }
    files.Checkpoint();

    struct Step {
        std::size_t index;
        bool had_earlier;
        bool placed;
    };
    std::vector<Step> steps;
    // Undoes every step, the seal last and only when all the others went back; otherwise
    // the seal stays missing (the diagnostic refuses the set) and the backups stay for the
    // next run to put back.
    const auto roll_back = [&] {
        bool restored = true;
        for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
            const std::wstring& final_path = plan[step->index].path;
            if (step->index == 0 && !restored) break;
            if (step->placed &&
                Retrying(files, [&] { return files.Remove(final_path); }) != 0) {
                restored = false;
                continue;
            }
            if (step->had_earlier) {
                const std::wstring earlier = Beside(final_path, tag, Kind::Earlier);
                restored &=
                    Retrying(files, [&] { return files.Rename(earlier, final_path); }) == 0;
            } else {
                files.Remove(Beside(final_path, tag, Kind::NoEarlier));
            }
        }
        remove_temporaries();
    };
    const auto move_aside = [&](std::size_t index) -> std::optional<Failure> {
        const std::wstring& final_path = plan[index].path;
        const std::uint32_t code = Retrying(files, [&] {
            return files.Rename(final_path, Beside(final_path, tag, Kind::Earlier));
        });
        if (code == 0) {
            steps.push_back({index, true, false});
            files.Checkpoint();
            return std::nullopt;
        }
        if (code == file_error::kFileNotFound) {
            const std::uint32_t noted =
                files.WriteWhole(Beside(final_path, tag, Kind::NoEarlier), {});
            if (noted == 0) {
                steps.push_back({index, false, false});
                return std::nullopt;
            }
            roll_back();
            return Failure{noted, L"Cannot write the file",
                           Beside(final_path, tag, Kind::NoEarlier)};
        }
        roll_back();
        return Failure{code, L"Cannot move the earlier file aside", final_path};
    };
    const auto put_in_place = [&](std::size_t index) -> std::optional<Failure> {
        const std::wstring& final_path = plan[index].path;
        const std::uint32_t code =
            Retrying(files, [&] { return files.Rename(temporaries[index], final_path); });
        if (code != 0) {
            roll_back();
            return Failure{code, L"Cannot put the file in place", final_path};
        }
        for (Step& step : steps) {
            if (step.index == index) step.placed = true;
        }
        files.Checkpoint();
        return std::nullopt;
    };

    if (auto failure = move_aside(0)) return failure;
    for (std::size_t i = 1; i < plan.size(); ++i) {
        if (auto failure = move_aside(i)) return failure;
        if (auto failure = put_in_place(i)) return failure;
    }
    if (auto failure = put_in_place(0)) return failure;

    for (const Step& step : steps) {
        files.Remove(Beside(plan[step.index].path, tag,
                            step.had_earlier ? Kind::Earlier : Kind::NoEarlier));
    }
    return std::nullopt;
}

}  // namespace qtk::companion
