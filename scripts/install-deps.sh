#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev libpng-dev libtiff-dev zlib1g-dev
          help2man man-db groff-base dpkg-dev
          clang libclang-rt-14-dev
          libdxflib-dev hershey-fonts-data
          libpappl-dev libcups2-dev cups-ipp-utils)
# The printer application's tests: libjpeg for JPEG documents and a CUPS scheduler with
# its client programs (lpadmin, lp) as a client.
packages+=(libjpeg62-turbo-dev cups)
# The printer's settings page is tested in a real browser: headless chromium driven by
# selenium.
packages+=(chromium chromium-driver python3-selenium)
# bench/image_formats_e2e.sh writes its TIFF files with ppm2tiff and tiffcp.
packages+=(libtiff-tools)
# PDF documents: poppler renders pages; the tests draw PDFs with cairo, check renders
# against pdftoppm and make encrypted or turned pages with qpdf.
packages+=(libpoppler-cpp-dev poppler-utils libcairo2-dev qpdf)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    # Wait for another package manager run instead of failing at once.
    apt=(apt-get -o DPkg::Lock::Timeout=900)
    $sudo_cmd "${apt[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd "${apt[@]}" install -y -qq "${missing[@]}" >/dev/null
fi
