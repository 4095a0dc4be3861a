#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and benchmarking
# korvane need. Does nothing when every package is already installed.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config ccache
  # platform layer and toolkit
  libsdl2-dev libx11-dev libxi-dev libgl-dev libegl-dev libgl1-mesa-dri libfreetype-dev libfontconfig-dev
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-dejavu-core
  # media
  libpng-dev zlib1g-dev libjpeg-dev libopenh264-dev libopenh264-7
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libopencv-dev
  # independent tools that tests compare against
  imagemagick libjpeg-turbo-progs libtiff-tools ffmpeg dcmtk
  python3 python3-numpy python3-opencv python3-scipy xvfb xauth xdotool x11-utils xclip
  # fuzzing (clang's libFuzzer) and benchmark peers
  clang-14 libclang-rt-14-dev libfftw3-dev libtiff-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
