#!/usr/bin/env bash
# Installs the Debian packages Korvane builds, tests and benchmarks with.
# Idempotent: installs only what is missing and runs apt-get update only then.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  # make package: CPack's Debian generator runs dpkg-shlibdeps and file.
  dpkg-dev file
  qt6-base-dev libgl-dev
  # Qt Designer's plugin interface and uic forms (the Designer plugin and its
  # tests); Qt's Designer CMake package asks for the OpenGL widgets too.
  qt6-tools-dev libqt6opengl6-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libdeflate-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  # Cameras: V4L2 with libv4l2's format conversion (the video capture view).
  libv4l-dev
  googletest libgtest-dev libbenchmark-dev
  clang
  fonts-dejavu-core
  # The API reference (make docs; make test checks it builds without warnings).
  doxygen
  # Peer programs the interoperability tests compare with.
  python3-pil python3-numpy python3-ezdxf giflib-tools libtiff-tools libjpeg-turbo-progs ffmpeg imagemagick
  # Drawing programs whose EMF, WMF and PNG exports the metafile tests compare.
  inkscape libreoffice-draw
  # SANE: libsane1 (opened at run time) with its `test` backend for the
  # acquisition tests, scanimage to compare with, and the headers.
  libsane1 sane-utils libsane-dev
)
# Peers for the benchmark scripts, and Xvfb for screenshots of the demo and
# of Qt Designer with the plugin (designer-qt6, xdotool, imagemagick's
# import) (not needed by make test).
if [[ "${KORVANE_DEPS:-}" == "bench" ]]; then
  PACKAGES+=(python3-opencv xvfb xauth libvips-tools designer-qt6 xdotool)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
