#!/usr/bin/env bash
# Installs, with apt-get, every Debian package the project needs to build, test
# and run. Does nothing when they are all present. Needs root (or sudo) only
# when something is missing.
set -euo pipefail

packages=(
  # build and test
  g++ cmake make pkg-config libgtest-dev libbenchmark-dev
  # video and chessboard detection
  libopencv-dev
  # live streams in the tests: a local server on the loopback address
  ffmpeg
  # asset loaders and their tests: OpenGL, GLU, GLUT, Xvfb, real 3DS files, a
  # peer 3DS reader as test oracle, clang with libFuzzer for the fuzz targets
  libgl1-mesa-dev libglu1-mesa-dev freeglut3-dev xvfb xauth assimp-testmodels lib3ds-dev
  clang libclang-rt-14-dev
  # models in common formats (OBJ, glTF, PLY, Collada, FBX) for the viewer
  libassimp-dev
  # their textures in TGA, PSD, GIF, HDR and PNM: the stb_image header
  libstb-dev
  # the viewer and its window tests: X11, EGL for offscreen drawing, window
  # pictures (xwd, convert), key presses (xdotool), display checks (xdpyinfo)
  libx11-dev libegl-dev x11-utils x11-apps imagemagick xdotool
  # the message box's test under a reparenting window manager
  fluxbox
  # command lines of every program
  libcli11-dev
  # camera files: ROS camera-info YAML; OpenCV's sample camera files for the tests
  libyaml-cpp-dev opencv-doc
  # camera files in OpenCV's XML (OpenCV's own parser crashes on damaged ones)
  libtinyxml2-dev
  # make_board draws with cairo; its tests rasterise and measure the PDF
  libcairo2-dev libfontconfig-dev poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
