#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the demo need and this
# machine lacks. Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(
  # host build and unit tests
  g++ cmake ninja-build python3 libgtest-dev libgmock-dev libbenchmark-dev
  # the companion's JSON report (header-only, also in the cross build) and its schema check
  nlohmann-json3-dev python3-jsonschema
  # peak memory in the examination benchmark (GNU time)
  time
  # fuzzing (clang with libFuzzer and the sanitizer runtimes)
  clang libclang-rt-14-dev
  # the Windows program, 64- and 32-bit
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686
  # running and looking at it: Wine on a virtual display, Thai fonts, screenshots
  wine wine64 fonts-wine xvfb xauth fonts-thai-tlwg imagemagick inotify-tools
  # the release: installers (wixl; msitools reads them back), signing and its test certificates;
  # openssl also makes the token checks' test certificates
  wixl msitools osslsigncode openssl
  # the token checks against a real PC/SC stack: the daemon, a virtual reader and card
  pcscd libpcsclite1 vsmartcard-vpcd vsmartcard-vpicc python3-virtualsmartcard
  python3-pycryptodome
  # tkfleet's page, opened in a real browser by its test and for the docs' picture
  chromium
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup: need root (or sudo) to install packages" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
