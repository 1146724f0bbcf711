#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the tools need.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # argument parsing of the command-line tools (header-only)
  libcli11-dev
  # the Debian package (scripts/package.sh: CPack's DEB generator runs dpkg-shlibdeps)
  dpkg-dev file desktop-file-utils
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # the application and the utility
  qt6-base-dev qt6-base-dev-tools libqt6printsupport6 libgl-dev
  # the SVG icon engine: the built-in scalable icons
  libqt6svg6
  # FlashPix container and JPEG tiles inside the FlashPix stand-in
  libgsf-1-dev libjpeg62-turbo-dev libglib2.0-dev
  # inflate for Deflate-compressed TIFF (libdeflate for whole chunks, zlib for damaged ones)
  zlib1g-dev libdeflate-dev
  # real scanners through SANE; its test backend and scanimage in the tests
  libsane-dev libsane1 sane-utils
  # peers for interoperability tests and benchmarks (never linked by the product)
  liblcms2-dev liblcms2-utils libtiff-dev libtiff-tools libjpeg-turbo-progs
  icc-profiles-free libgs-common
  # sample display profiles that the tests set on an X server's root window
  colord-data
  python3 python3-pil python3-tifffile python3-olefile python3-numpy
  libimage-exiftool-perl imagemagick libturbojpeg0-dev
  # printed pages rendered back to pixels in the application's tests
  poppler-utils
  # the display's profile from the X root window (libxcb at run time, an Xvfb in the tests)
  libxcb1-dev xvfb
  # a CUPS scheduler with a PDF queue that the application's tests print through
  cups printer-driver-cups-pdf
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
