#!/usr/bin/env bash
# The computer name and the OS line as the prefix's registry and the OS-version file give
# them, on one server (the active computer name is volatile: it lives as long as the
# server that holds it):
# - the version file's first line follows the product name, even with a service pack set;
# - a first line "fail" takes the service-pack text instead;
# - a product name stored as three bytes without a terminating NUL loses its last
#   character, as every value read loses its last byte.
# The rest of the window must keep showing the demo data's results. Each run has a prefix
# of its own: nothing one run leaves (its clean-up script, a registry value) reaches the
# next.
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"

current_version='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion'

qtk_xvfb_start

echo "== version line"
bench_fresh_prefix prefix-version_line
qtk_set_identity QA-DESK-42 'Windows 10 Enterprise' 'Service Pack 1'
bench_put outwinversion.txt 'Version 10.0.19045.1\r\nfail\r\n'
bench_want comname QA-DESK-42 green
bench_want os 'Windows 10 Enterprise Version 10.0.19045.1' green
bench_run_window version_line

echo "== service pack"
bench_fresh_prefix prefix-service_pack
qtk_set_identity QA-DESK-42 'Windows 10 Enterprise' 'Service Pack 1'
bench_put outwinversion.txt 'fail\r\nVersion 10.0.19045.1\r\n'
bench_want comname QA-DESK-42 green
bench_want os 'Windows 10 Enterprise Service Pack 1' green
bench_run_window service_pack

echo "== product name without its NUL"
bench_fresh_prefix prefix-raw_product_name
qtk_set_identity QA-DESK-42 'Windows 10 Enterprise'
bench_put outwinversion.txt 'Version 10.0.19045.1\r\n'
if bench_probe raw.tsv reg-set-raw "$current_version" ProductName REG_SZ 57696e; then
    expect "ProductName as the program reads it: bytes" "$(bench_field raw.tsv regset 4)" 3
fi
bench_want comname QA-DESK-42 green
bench_want os 'Wi Version 10.0.19045.1' green
bench_run_window raw_product_name

finish
