#!/usr/bin/env bash
# Installs whatever the build, the program and the tests need and this machine lacks.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake ninja-build g++ zlib1g-dev libpng-dev libjpeg-dev qt6-base-dev libgtest-dev \
         openbox x11-utils libxcb1-dev \
         libbenchmark-dev libxml2-utils python3 unzip zip p7zip-full gpsbabel geographiclib-tools \
         gdal-bin proj-bin proj-data xvfb xauth fontconfig clang llvm libclang-rt-14-dev clang-format; do
  have "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2
  apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi
