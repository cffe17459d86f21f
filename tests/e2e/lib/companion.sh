# shellcheck shell=bash
# shellcheck disable=SC2034  # the COMPANION_* settings are for the case scripts
# What the companion's end-to-end cases share, on top of lib/bench.sh. A case script
# starts with
#
#   source "$(dirname "$0")/../lib/companion.sh" "$@"
#
# and is called with the bench's named arguments and these:
#
#   --tkexamine EXE  the companion
#   --faults EXE     the same program with the writer's fault hook (TKEXAMINE_TEST_FAULT)
#   --kit DIR        the kit as handed out (both programs and run-check.cmd)
#   --schema FILE    docs/report.schema.json
#   --version X.Y.Z  the project's version
#
# Its data (registry files, site lists, expected markers) is in ../companion.

# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh" "$@"

bench_require tkexamine faults kit schema version
COMPANION_DATA=$BENCH_DIR/companion
COMPANION_EXE=$(realpath "$(bench_option tkexamine)")
COMPANION_FAULTS_EXE=$(realpath "$(bench_option faults)")
COMPANION_KIT=$(realpath -m "$(bench_option kit)")
COMPANION_SCHEMA=$(realpath "$(bench_option schema)")
COMPANION_VERSION=$(bench_option version)

# How long one run of tkexamine may take before it counts as hung: far above its time on
# a loaded machine (a few seconds quiet).
COMPANION_HANG_S=300

# companion_import REGFILE: a .reg file into the prefix's registry, in one process.
companion_import() {
    qtk_wine regedit /S "$(qtk_windows_path "$1")" >>"$BENCH_WORK/wine.log" 2>&1 ||
        qtk_die "importing $1 failed"
}

# companion_lock_key HIVE PATH: opening the key fails with "access denied" from now on.
companion_lock_key() {
    local out
    out=$(qtk_wine "$BENCH_PROBE" reg-deny "$1\\$2" 2>>"$BENCH_WORK/wine.log") ||
        qtk_die "cannot lock $1\\$2: $out"
}

# companion_examine [ARG...]: runs tkexamine and waits for it; COMPANION_STATUS is its
# exit code.
companion_examine() {
    COMPANION_STATUS=0
    timeout "$COMPANION_HANG_S" wine "$COMPANION_EXE" "$@" >>"$BENCH_WORK/examine.log" 2>&1 </dev/null ||
        COMPANION_STATUS=$?
}

# companion_run NAME ARG...: runs tkexamine with ARGs; its standard output lands in
# NAME.out, its standard error in NAME.err, its exit code in COMPANION_STATUS.
companion_run() {
    local name=$1
    shift
    COMPANION_STATUS=0
    qtk_wine --version >/dev/null
    timeout "$COMPANION_HANG_S" wine "$COMPANION_EXE" "$@" >"$name.out" 2>"$name.err" </dev/null ||
        COMPANION_STATUS=$?
}

# companion_validate REPORT...: each report is valid against docs/report.schema.json and
# its counts and exit code agree with its rows.
companion_validate() {
    python3 "$BENCH_DIR/lib/validate_report.py" "$COMPANION_SCHEMA" "$@" || fail "report(s) not valid: $*"
    local report
    [[ ${COMPANION_CHECK_ROWS:-1} == 1 ]] || return 0
    for report in "$@"; do companion_check_rows "$report"; done
}

# companion_check_rows REPORT: the report's rows (id, verdict, reason) are the ones recorded
# in companion/rows/CASE.REPORT.tsv, so that a change in what a management system keys on
# or reads shows up as a failure. The work directory and a local server's port, which
# differ from run to run, are written as <work> and <port>. With QTK_UPDATE_ROWS=1 the
# file is written instead.
companion_check_rows() {
    local expected rows
    expected="$COMPANION_DATA/rows/$BENCH_CASE.$(basename "$1").tsv"
    rows=$(python3 - "$1" "$(qtk_windows_path "$BENCH_WORK")" <<'PY'
import json, re, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
work = sys.argv[2]
for row in report["checks"]:
    reason = row["reason"].replace(work, "<work>")
    reason = re.sub(r"127\.0\.0\.1:[0-9]+", "127.0.0.1:<port>", reason)
    print("\t".join([row["id"], row["verdict"], reason]))
PY
) || { fail "rows of $1 not readable"; return; }
    if [[ ${QTK_UPDATE_ROWS:-} == 1 ]]; then
        mkdir -p "$(dirname "$expected")" && printf '%s\n' "$rows" >"$expected"
        return
    fi
    [[ -f $expected ]] || { fail "no recorded rows for $1 ($expected)"; return; }
    expect "rows of $(basename "$1") against $(basename "$expected")" \
        "$(diff "$expected" <(printf '%s\n' "$rows") && echo same)" same
}

# companion_row REPORT ID FIELD[.SUB]: one field of one row ("-" when there is no such row);
# a field below the row's top level comes JSON-encoded.
companion_row() {
    python3 - "$@" <<'PY'
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
rows = [r for r in report["checks"] if r["id"] == sys.argv[2]]
if not rows:
    print("-")
elif "." not in sys.argv[3]:
    print(rows[0][sys.argv[3]])
else:
    value = rows[0]
    for part in sys.argv[3].split("."):
        value = value.get(part, "-") if isinstance(value, dict) else "-"
    print(json.dumps(value, ensure_ascii=False))
PY
}

# companion_report_field REPORT PATH.TO.FIELD: a value of the report, JSON-encoded.
companion_report_field() {
    python3 -c 'import json, sys
value = json.load(open(sys.argv[1], encoding="utf-8"))
for part in sys.argv[2].split("."):
    value = value[part]
print(json.dumps(value, ensure_ascii=False))' "$@"
}

# companion_check_report_markers REPORT: every marker row's verdict is what its marker file
# says (ok -> pass, fail -> fail, cannot look -> undecided). Groups without markers (the
# token) are left to their own cases.
companion_check_report_markers() {
    local out
    out=$(python3 - "$1" "$WINEPREFIX/drive_c" <<'PY'
import json, os, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
words = {"ok": "pass", "fail": "fail", "cannot look": "undecided"}
wrong = 0
checked = 0
for row in report["checks"]:
    # Groups the window has no room for (IE mode, say) leave no marker.
    if "marker" not in row["details"]:
        continue
    checked += 1
    marker = row["details"]["marker"]
    path = os.path.join(sys.argv[2], marker[3:].replace("\\", "/"))
    first = open(path, "rb").read().decode("ascii").split("\r\n")[0].split(",")[0]
    if words.get(first) != row["verdict"]:
        print(f"{row['id']}: report says {row['verdict']}, {marker} says {first}")
        wrong += 1
print(f"{checked} marker rows, {wrong} disagree")
PY
    ) || fail "cannot compare the report with the markers: $out"
    if [[ $out == *" 0 disagree" ]]; then echo "ok: report and markers agree ($out)"; else fail "$out"; fi
}

# The SIDs an access list (SDDL, as the probe shows it) lets write, other than the
# current user's, SYSTEM's, Administrators' and the creator-owner placeholder.
companion_foreign_writers() {
    local sddl=$1 user=$2
    grep -oE '\(A;[^;]*;[^;]*;[^;]*;[^;]*;[^)]*\)' <<<"$sddl" | while IFS=';' read -r _ _ rights _ _ sid; do
        sid=${sid%)}
        case $sid in "$user" | SY | BA | CO | S-1-5-18 | S-1-5-32-544 | S-1-3-0) continue ;; esac
        if [[ $rights == 0x* ]]; then
            # write data, append, write EA, delete child, write attributes, delete,
            # write DAC, write owner, generic all, generic write
            (((rights & 0x500D0156) != 0)) && echo "$sid"
        elif [[ $rights =~ (FA|FW|GA|GW|SD|WD|WO) ]]; then
            echo "$sid"
        fi
    done | sort -u | tr '\n' ' '
}

# companion_show_acl PATH OUT: the probe's view of PATH's access list in OUT.
companion_show_acl() {
    qtk_wine "$BENCH_PROBE" acl-show "$1" >"$2" 2>>"$BENCH_WORK/wine.log" ||
        fail "cannot read the access list of $1: $(cat "$2")"
}

# Whether this prefix keeps an access list set on a file as it was set. Wine 8 does not:
# it keeps the file's Unix mode bits and shows a list made up from them.
companion_keeps_file_lists() {
    local scratch='C:\acl-scratch.txt' list='(A;;FA;;;BA)(A;;0x1200a9;;;BU)'
    : >"$WINEPREFIX/drive_c/acl-scratch.txt"
    qtk_wine "$BENCH_PROBE" acl-set "$scratch" "D:P$list" >>"$BENCH_WORK/wine.log" 2>&1 ||
        qtk_die "cannot set an access list on $scratch"
    companion_show_acl "$scratch" keeps-lists.tsv
    rm -f "$WINEPREFIX/drive_c/acl-scratch.txt"
    [[ $(bench_field keeps-lists.tsv sddl 2) == *"D:P"*"$list"* ]]
}

# companion_check_marker_list FILE DIR_SDDL USER_SID: a file the companion created in
# C:\tmptk lets nobody else write to it and, where the prefix keeps access lists, carries
# every entry the directory hands down to files (OI), marked inherited (ID), so that
# another administrator can read it as the directory says ("ACE inheritance rules",
# "ACE_HEADER structure", learn.microsoft.com).
companion_check_marker_list() {
    local file=$1 dir_sddl=$2 user=$3 out sddl ace flags rights sid missing=()
    out=list-$file.tsv
    companion_show_acl "C:\\tmptk\\$file" "$out"
    sddl=$(bench_field "$out" sddl 2)
    expect "others who may write to $file ($sddl)" "$(companion_foreign_writers "$sddl" "$user")" ""
    if ! companion_keeps_file_lists; then
        echo "note: this Wine keeps no access lists on files (it shows one made up from the" \
            "file's mode bits), so whether $file inherits the directory's list is not seen here"
        return 0
    fi
    expect "$file's list is open to inheritance (not protected)" "$(bench_field "$out" protected 2)" 0
    while IFS=';' read -r ace flags rights _ _ sid; do
        [[ $ace == '(A' && $flags == *OI* && $flags != *IO* ]] || continue
        grep -qF "(A;ID;$rights;;;$sid" <<<"$sddl" || missing+=("(A;$flags;$rights;;;$sid")
    done < <(grep -oE '\(A;[^;]*;[^;]*;[^;]*;[^;]*;[^)]*\)' <<<"$dir_sddl")
    expect "entries of the directory's list that $file does not inherit" "${missing[*]}" ""
}

# The version the prefix's Windows reports through its own `ver`, "6.1.7601".
companion_system_version() {
    qtk_wine cmd /c ver 2>>"$BENCH_WORK/wine.log" | tr -d '\r' | grep -oE '[0-9]+\.[0-9]+\.[0-9]+' | head -n 1
}

# companion_check_markers EXPECTED: every marker holds one CR LF line whose first field
# is the expected one.
companion_check_markers() {
    local expected=$1 label marker field caption colour file bytes first wrong=0
    while IFS=$'\t' read -r label marker field caption colour; do
        [[ $label == \#* || $label == label || -z $label ]] && continue
        file=$(qtk_tmptk_path "$marker")
        if [[ ! -f $file ]]; then
            fail "$marker was not written"
            wrong=$((wrong + 1))
            continue
        fi
        bytes=$(od -An -c "$file" | tr -s ' \n' ' ')
        if [[ $(grep -c $'\r$' "$file") != 1 || $(wc -l <"$file") != 1 || $bytes != *'\r \n ' ]]; then
            fail "$marker is not one line ending in CR LF: $bytes"
            wrong=$((wrong + 1))
        fi
        first=$(head -n 1 "$file" | tr -d '\r')
        first=${first%%,*}
        if [[ $first != "$field" ]]; then
            fail "$marker starts with [$first], expected [$field]: $(tr -d '\r' <"$file")"
            wrong=$((wrong + 1))
        fi
    done <"$expected"
    if ((wrong == 0)); then echo "ok: every marker of $(basename "$expected") as expected"; fi
}

# companion_check_version_file: "Version <the system's version>.4291", the update revision
# coming from the registry.
companion_check_version_file() {
    local line want
    line=$(head -n 1 "$(qtk_tmptk_path outwinversion.txt)" | tr -d '\r')
    want="Version $(companion_system_version).4291"
    expect "the OS-version file" "$line" "$want"
}

# companion_check_board EXPECTED NAME [started]: starts the diagnostic on what the
# companion wrote (unless something else already did) and compares every frame and label,
# the status labels as EXPECTED says, then closes it the way a user does.
companion_check_board() {
    local expected=$1 name=$2 board="$BENCH_WORK/$2-board.tsv" version
    [[ ${3:-} == started ]] || qtk_start_program "$BENCH_EXE"
    if ! bench_probe "$name-shown.tsv" wait-shown 30000 dump colors; then
        [[ ${3:-} == started ]] || qtk_wait_program 5000 || true
        fail "the diagnostic showed no board after the $name examination" \
            "(exit status ${QTK_PROGRAM_STATUS:-none}: $(tail -n 3 "$BENCH_WORK/program.log" | tr '\n' ' '))"
        return 0
    fi
    bench_screenshot "$name-board"
    # Read only now: when something else started the diagnostic, the companion may have
    # been writing until a moment ago.
    version=$(head -n 1 "$(qtk_tmptk_path outwinversion.txt)" | tr -d '\r' || true)
    {
        printf 'name\tcaption\tcolour\tmarker\n'
        printf 'comname\t%s\tgreen\t-\n' "$QTK_DEMO_COMPUTER_NAME"
        printf 'os\t%s %s\tgreen\toutwinversion.txt\n' "$QTK_DEMO_PRODUCT_NAME" "$version"
        awk -F'\t' '$1 !~ /^#/ && $1 != "label" && NF >= 5 { print $1 "\t" $4 "\t" $5 "\t" $2 }' \
            "$expected"
    } >"$board"
    if awk -f "$BENCH_DIR/lib/check_layout.awk" -v dpi=96 "$BENCH_DIR/expected_layout.tsv" \
        "$board" "$name-shown.tsv"; then
        echo "ok: the diagnostic paints $(basename "$expected") row by row"
    else
        fail "the board after $name differs from $(basename "$expected") (see above)"
    fi
    bench_probe "$name-closed.tsv" wait-shown 5000 close wait-gone 10000 || true
    if [[ ${3:-} != started ]]; then
        qtk_wait_program 15000 || fail "the diagnostic did not end after the close"
    fi
}

# The files one examination leaves: the OS-version file, the markers, the clean-up script.
companion_written_files() {
    echo outwinversion.txt rundelay.bat
    awk -F'\t' '$1 !~ /^#/ && $1 != "label" && NF >= 5 { print $2 }' "$COMPANION_DATA/expected_a.tsv"
}

companion_none_left() {
    local name
    for name in $(companion_written_files); do
        [[ -e $(qtk_tmptk_path "$name") ]] && return 1
    done
    return 0
}

# ---- a certificate authority of the tests' own, made with openssl
#
# companion_test_ca ROOT_CN: the authority in BENCH_WORK/certs (COMPANION_CERTS) with a root
# for CN=ROOT_CN. Then:
#   companion_openssl ARG...           openssl, its chatter in the log, the case ended on failure
#   companion_when "-1 day"            a time as openssl's ca takes it
#   companion_issue NAME EXT START END a certificate of the root for CN=NAME, its extensions
#                                      one of client, logon (with Smart Card Logon),
#                                      intermediate, mail
#   companion_der NAME...              each as NAME.der, its SHA-1 thumbprint in thumb[NAME]
#                                      (the case declares -A thumb)
#   companion_der_path NAME            that file's Windows path
companion_test_ca() {
    COMPANION_CERTS=$BENCH_WORK/certs
    local certs=$COMPANION_CERTS
    mkdir -p "$certs/issued"
    : >"$certs/index.txt"
    echo 1000 >"$certs/serial"
    cat >"$certs/ca.cnf" <<EOF
[ca]
default_ca = test_ca
[test_ca]
database = $certs/index.txt
new_certs_dir = $certs/issued
serial = $certs/serial
certificate = $certs/root.pem
private_key = $certs/root.key
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
[client]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
[logon]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth, 1.3.6.1.4.1.311.20.2.2
[intermediate]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
[mail]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = emailProtection
EOF
    companion_openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/root.key" -out "$certs/root.pem" \
        -subj "/CN=$1" -days 3650 \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}

companion_openssl() {
    openssl "$@" >>"$COMPANION_CERTS/openssl.log" 2>&1 ||
        qtk_die "openssl $1 failed: $(tail -n 3 "$COMPANION_CERTS/openssl.log")"
}

companion_when() { date -u -d "$1" +%Y%m%d%H%M%SZ; }

companion_issue() {
    local certs=$COMPANION_CERTS
    companion_openssl req -newkey rsa:2048 -nodes -keyout "$certs/$1.key" -out "$certs/$1.csr" -subj "/CN=$1"
    companion_openssl ca -batch -config "$certs/ca.cnf" -extensions "$2" -startdate "$3" -enddate "$4" \
        -notext -in "$certs/$1.csr" -out "$certs/$1.pem"
}

companion_der() {
    local name
    for name in "$@"; do
        companion_openssl x509 -in "$COMPANION_CERTS/$name.pem" -outform DER -out "$COMPANION_CERTS/$name.der"
        thumb[$name]=$(openssl x509 -in "$COMPANION_CERTS/$name.pem" -noout -fingerprint -sha1 |
            sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')
    done
}

companion_der_path() { qtk_windows_path "$COMPANION_CERTS/$1.der"; }
