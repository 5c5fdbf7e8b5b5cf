# Shared by run.sh and test.sh: install what a fresh Debian 12 machine lacks,
# then configure and build. Sourced, not run.

TARVO_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
  qt6-qpa-plugins
  xvfb xauth desktop-file-utils dpkg-dev file
  clang libclang-rt-14-dev clang-format python3
  lintian appstream systemd
)

# The Windows part of test.sh: the MinGW cross compiler, Wine on a virtual
# screen, makensis for the installer, dpkg-dev for `apt-get source`,
# rsvg-convert and icotool to make the program's .ico from its SVG artwork,
# and wrestool to read the resources back.
TARVO_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool nsis dpkg-dev librsvg2-bin icoutils
)

tarvo_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# tarvo_check_format: every C++ source as .clang-format lays it out.
tarvo_check_format() {
  (cd "$TARVO_ROOT" && find . -path ./build -prune -o -path './build-*' -prune -o -path ./.git -prune \
     -o \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run --Werror)
}

# tarvo_install_missing [packages...]: TARVO_PACKAGES when none are named.
tarvo_install_missing() {
  local wanted=("$@") missing=()
  [ $# -gt 0 ] || wanted=("${TARVO_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    tarvo_as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive tarvo_as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# tarvo_build DIR [targets...]: configure once, then build the targets (all
# when none are named). TARVO_WERROR=ON makes warnings errors.
tarvo_build() {
  local dir=$1; shift
  # ccache, where the machine has it, makes a rebuild of unchanged sources
  # (another checkout, a fresh build folder) a matter of seconds.
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$TARVO_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVO_WERROR="${TARVO_WERROR:-OFF}" "${launcher[@]}" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build "$dir" -j"$(nproc)" --target "$@"
  else
    cmake --build "$dir" -j"$(nproc)"
  fi
}
