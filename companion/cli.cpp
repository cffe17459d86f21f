#include "companion/cli.h"

#include <algorithm>

#include "checks/contract.h"
#include "companion/registry_source.h"

namespace qtk::companion {
namespace {

struct Split {
    std::wstring name;
    std::optional<std::wstring> value;
};

// "--json=x" / "/json:x" / "-h" -> name and inline value; nothing when arg is no option.
std::optional<Split> SplitOption(const std::wstring& arg) {
    std::wstring body;
    bool slash = false;
    if (arg.size() > 2 && arg.compare(0, 2, L"--") == 0) {
        body = arg.substr(2);
    } else if (arg.size() > 1 && arg[0] == L'/') {
        body = arg.substr(1);
        slash = true;
    } else if (arg.size() == 2 && arg[0] == L'-') {
        body = arg.substr(1);  // the short forms: -h, -?, -q
    } else {
        return std::nullopt;
    }
    std::size_t cut = body.find(L'=');
    // "/json:C:\reports" names the folder after the first colon; a drive letter's own colon
    // comes later.
    if (slash) cut = std::min(cut, body.find(L':'));
    Split split{FoldCase(body.substr(0, cut)), std::nullopt};
    if (cut != std::wstring::npos) split.value = body.substr(cut + 1);
    return split;
}

// "token,ie_mode" -> its names; an empty name (",," or a trailing comma) is an error.
std::optional<std::vector<std::wstring>> SplitList(const std::wstring& list) {
    std::vector<std::wstring> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(L',', start);
        std::wstring name = list.substr(start, comma == std::wstring::npos ? comma : comma - start);
        if (name.empty()) return std::nullopt;
        names.push_back(std::move(name));
        if (comma == std::wstring::npos) return names;
        start = comma + 1;
    }
}

}  // namespace

bool IsSkippableGroup(std::wstring_view group) {
    return group == L"token" || group == L"ie_mode";
}

bool IsSidString(const std::wstring& text) {
    // S-1-<authority>-<sub>... ; at most 15 sub-authorities of at most 10 digits each.
    if (text.size() < 5 || text.size() > 184) return false;
    if ((text[0] != L'S' && text[0] != L's') || text[1] != L'-') return false;
    std::size_t parts = 0;
    std::size_t digits = 0;
    for (std::size_t i = 2; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == L'-') {
            if (digits == 0 || digits > 14) return false;
            ++parts;
            digits = 0;
        } else if (text[i] >= L'0' && text[i] <= L'9') {
            ++digits;
        } else {
            return false;
        }
    }
    // revision, authority, and at least one sub-authority
    return parts >= 3 && parts <= 17 && text[2] == L'1' && text[3] == L'-';
}

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& args) {
    Options options;
    bool json_seen = false;
    bool user_seen = false;
    bool detect_seen = false;
    const auto bad = [](std::wstring why) { return ParsedCommandLine{std::nullopt, std::move(why)}; };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const std::optional<Split> option = SplitOption(arg);
        if (!option) return bad(L"unexpected argument \"" + arg + L"\"");
        const std::wstring& name = option->name;
        const auto no_value = [&]() -> bool { return !option->value.has_value(); };
        if (name == L"?" || name == L"h" || name == L"help") {
            if (!no_value()) return bad(L"option " + arg + L" takes no value");
            options.help = true;
        } else if (name == L"version") {
            if (!no_value()) return bad(L"option " + arg + L" takes no value");
            options.version = true;
        } else if (name == L"quiet" || name == L"q") {
            if (!no_value()) return bad(L"option " + arg + L" takes no value");
            options.quiet = true;
        } else if (name == L"report-only") {
            if (!no_value()) return bad(L"option " + arg + L" takes no value");
            options.report_only = true;
        } else if (name == L"json") {
            if (json_seen) return bad(L"--json is given more than once");
            json_seen = true;
            if (!option->value) {
                options.json = Options::Json::Stdout;
            } else if (option->value->empty()) {
                return bad(L"--json= needs a file or folder after the '='");
            } else {
                options.json = Options::Json::Path;
                options.json_path = *option->value;
            }
        } else if (name == L"user") {
            if (user_seen) return bad(L"--user is given more than once");
            user_seen = true;
            std::wstring sid;
            if (option->value) {
                sid = *option->value;
            } else if (i + 1 < args.size()) {
                sid = args[++i];
            } else {
                return bad(L"--user needs a SID, e.g. --user S-1-5-21-1004336348-1177238915-682003330-512");
            }
            if (!IsSidString(sid)) return bad(L"--user: \"" + sid + L"\" is not a SID (S-1-5-21-...)");
            sid[0] = L'S';
            options.user_sid = sid;
        } else if (name == L"detect") {
            if (detect_seen) return bad(L"--detect is given more than once");
            detect_seen = true;
            if (!option->value) {
                options.detect = Options::Detect::On;
            } else if (FoldCase(*option->value) == L"strict") {
                options.detect = Options::Detect::Strict;
            } else {
                return bad(L"--detect: \"" + *option->value + L"\" is not a mode (--detect or --detect=strict)");
            }
            // A detection script looks and changes nothing.
            options.report_only = true;
        } else if (name == L"what-if") {
            if (!no_value()) return bad(L"option " + arg + L" takes no value");
            options.what_if = true;
            options.report_only = true;
        } else if (name == L"fix") {
            if (!no_value()) return bad(L"option " + arg + L" takes no value");
            options.fix = true;
        } else if (name == L"force") {
            if (!no_value()) return bad(L"option " + arg + L" takes no value");
            options.force = true;
        } else if (name == L"undo") {
            if (!options.undo_path.empty()) return bad(L"--undo is given more than once");
            if (option->value) {
                options.undo_path = *option->value;
            } else if (i + 1 < args.size()) {
                options.undo_path = args[++i];
            } else {
                return bad(L"--undo needs the undo file that --fix named");
            }
            if (options.undo_path.empty()) return bad(L"--undo needs the undo file that --fix named");
        } else if (name == L"skip") {
            std::wstring list;
            if (option->value) {
                list = *option->value;
            } else if (i + 1 < args.size()) {
                list = args[++i];
            } else {
                return bad(L"--skip needs a group, e.g. --skip=token");
            }
            const std::optional<std::vector<std::wstring>> groups = SplitList(FoldCase(list));
            if (!groups) return bad(L"--skip: \"" + list + L"\" names an empty group");
            for (const std::wstring& group : *groups) {
                if (!IsSkippableGroup(group)) {
                    return bad(L"--skip: \"" + group +
                               L"\" is not a group that may be left out (token, ie_mode)");
                }
                const std::string id(group.begin(), group.end());
                if (std::find(options.skip.begin(), options.skip.end(), id) == options.skip.end()) {
                    options.skip.push_back(id);
                }
            }
        } else {
            return bad(L"unknown option " + arg);
        }
    }
    const bool undo = !options.undo_path.empty();
    if (int(options.fix) + int(undo) + int(options.what_if) + int(options.detect != Options::Detect::Off) > 1) {
        return bad(L"--fix, --undo, --what-if and --detect each do their own run; give one of them");
    }
    if (options.force && !undo) return bad(L"--force goes with --undo FILE only");
    if ((options.fix || undo) && options.json == Options::Json::Stdout) {
        return bad(L"--fix and --undo print what they changed on the standard output; write the report to a file with --json=PATH");
    }
    if (options.what_if && options.json == Options::Json::Stdout) {
        return bad(L"--what-if prints its plan on the standard output; write the report to a file with --json=PATH");
    }
    if (options.detect != Options::Detect::Off && options.json == Options::Json::Stdout) {
        return bad(L"--detect prints one line on the standard output; write the report to a file with --json=PATH");
    }
    return ParsedCommandLine{options, {}};
}

std::wstring UsageText() {
    const std::wstring directory(kMarkerDirectory);
    return L"Usage: tkexamine [options]\n"
           L"\n"
           L"Examines this workstation for the QUORIN token key, writes what the diagnostic\n"
           L"reads into " + directory + L" and prints a summary.\n"
           L"\n"
           L"Options (/name and --name are the same):\n"
           L"  /?, -h, --help     show this text\n"
           L"  --version          show the program's version\n"
           L"  --quiet            print nothing but errors\n"
           L"  --json             write the JSON report to the standard output\n"
           L"                     (the summary then goes to the standard error)\n"
           L"  --json=PATH        write the JSON report to PATH; when PATH is a folder,\n"
           L"                     to PATH\\<COMPUTERNAME>.json\n"
           L"  --report-only      examine and report, write nothing into " + directory + L"\n"
           L"  --user SID         examine the settings of the user with this SID\n"
           L"                     (default: this user; under SYSTEM, the console user,\n"
           L"                     else the one user signed in to an active session)\n"
           L"  --skip=GROUP[,..]  leave out a group that only the report shows:\n"
           L"                     token (reader, token, certificates, services),\n"
           L"                     ie_mode (Edge's IE mode site list)\n"
           L"  --what-if          examine, then print what a fix of this user's own settings\n"
           L"                     would change (key, value, old data, new data) and which\n"
           L"                     rows a policy holds; changes nothing\n"
           L"  --fix              set this user's own settings that the failing user checks\n"
           L"                     need (trusted sites, the Trusted sites zone's settings,\n"
           L"                     the pop-up blocker's allowed sites), never a machine or\n"
           L"                     policy setting; first writes an undo file under the\n"
           L"                     user's %LOCALAPPDATA% and prints its path; then\n"
           L"                     examines again and writes the markers\n"
           L"  --undo FILE        put back what the fix that wrote FILE changed; refuses\n"
           L"                     a file that is not one, or whose values were changed\n"
           L"                     since (naming them), unless --force is given too\n"
           L"  --force            with --undo: put back the values changed since as well\n"
           L"  --detect[=strict]  for a management system's detection script: examine\n"
           L"                     (report only), print one line of at most 2048\n"
           L"                     characters, exit 0 (no issue) or 1 (issue: a check\n"
           L"                     failed, or the run could not complete). Undecided\n"
           L"                     checks are named but are no issue, unless =strict\n"
           L"\n"
           L"Exit codes:\n"
           L"  0   every check passed\n"
           L"  1   at least one check failed\n"
           L"  2   nothing failed, but at least one check is undecided\n"
           L"  3   the examination, fix or undo could not complete (the error is on the\n"
           L"      standard error; what a fix changed is in its undo file)\n"
           L"  4   --undo refused the file: nothing was changed\n"
           L"  87  the command line is not understood\n"
           L"After --fix or --undo, 0 to 2 are those of the examination that follows.\n"
           L"With --detect only 0 (no issue) and 1 (issue) are used.\n";
}

}  // namespace qtk::companion
