// tkprobe: looks at the running diagnostic from outside, the way a user or an assistive
// tool would, and does inside the prefix what the companion's cases need done (access
// lists, held files, test certificates); it prints what it sees as tab-separated lines
// on stdout.
//
//   tkprobe [--exe NAME] [--class NAME] COMMAND [ARGS]... [COMMAND [ARGS]...]...
//
// Commands run left to right in one process, because every start of a Wine process costs
// a noticeable fraction of a second. Each is described where it is defined; the table
// below lists them all. A command that cannot do its job prints "error<TAB>why" and the
// probe exits 2.

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "probe.h"

namespace {

using probe::Command;

constexpr std::array kCommands = {
    // The board and its boxes (windows.cpp).
    Command{L"wait-shown", 1, probe::WaitShown},    // MS
    Command{L"close", 0, probe::Close},
    Command{L"wait-gone", 1, probe::WaitGone},      // MS
    Command{L"watch-error", 1, probe::WatchError},  // MS
    Command{L"answer-box", 1, probe::AnswerBox},    // MS
    // What is on it (board.cpp).
    Command{L"dump", 0, probe::Dump},
    Command{L"colors", 0, probe::Colors},
    Command{L"fit", 0, probe::Fit},                 // (fit.cpp)
    // Beyond the paint: tooltips, the clipboard, accessible names (extras.cpp).
    Command{L"tips", 0, probe::Tips},
    Command{L"hover", 2, probe::Hover},              // ID MS
    Command{L"clipboard-clear", 0, probe::ClipboardClear},
    Command{L"copy-key", 0, probe::CopyKey},
    Command{L"copy-menu", 0, probe::CopyMenu},
    Command{L"clipboard", 1, probe::Clipboard},      // MS
    Command{L"acc-names", 0, probe::AccNames},
    // A process of our own (launch.cpp).
    Command{L"launch", 2, probe::Launch},           // PATH MS
    Command{L"wait-exit", 1, probe::WaitExit},      // MS
    // The registry (registry.cpp).
    Command{L"reg-set-raw", 4, probe::RegSetRaw},   // KEY NAME TYPE HEX
    Command{L"reg-deny", 1, probe::RegDeny},        // KEY
    // Access lists and files held by a reader (acl.cpp).
    Command{L"acl-show", 1, probe::AclShow},        // PATH
    Command{L"acl-open-to-everyone", 1, probe::AclOpenToEveryone},  // PATH
    Command{L"acl-set", 2, probe::AclSet},          // PATH SDDL
    Command{L"hold-unshared", 1, probe::HoldUnshared},  // PATH
    Command{L"hold-while", 2, probe::HoldWhile},    // PATH FLAG
    Command{L"keep-mutex", 2, probe::KeepMutex},    // NAME FLAG
    // Test certificates and the token examination (token.cpp).
    Command{L"cert-add-my", 3, probe::CertAddMy},   // DER PROVIDER TYPE
    Command{L"cert-add-root", 1, probe::CertAddRoot},  // DER
    Command{L"token-rows", 0, probe::TokenRows},
    // Other processes and files (process.cpp).
    Command{L"show-state", 2, probe::ShowState},    // EXE MS
    Command{L"hold", 1, probe::Hold},               // PATH
    Command{L"release-after-exit", 1, probe::ReleaseAfterExit},  // MS
};

void Run(int argc, wchar_t** argv) {
    probe::Target& target = probe::TheTarget();
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view arg = argv[i];
        if ((arg == L"--exe" || arg == L"--class") && i + 1 < argc) {
            (arg == L"--exe" ? target.exe : target.window_class) = argv[++i];
            continue;
        }
        const auto command = std::find_if(kCommands.begin(), kCommands.end(),
                                          [&](const Command& c) { return c.name == arg; });
        if (command == kCommands.end()) throw probe::ProbeError{"unknown command " + probe::Utf8(arg)};
        if (i + command->arg_count >= argc) {
            throw probe::ProbeError{probe::Utf8(arg) + " needs " + probe::Num(command->arg_count) +
                                    " argument(s)"};
        }
        const probe::Args args(argv + i + 1, argv + i + 1 + command->arg_count);
        i += command->arg_count;
        command->run(args);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    try {
        Run(argc, argv);
    } catch (const probe::ProbeError& e) {
        probe::Line("error\t" + e.why);
        return 2;
    }
    return 0;
}
