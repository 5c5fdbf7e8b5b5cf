#!/usr/bin/env bash
# Cross-builds Tarvo for 64-bit Windows: prepares (or reuses) the cached
# Windows Qt, builds tarvo.exe and the test programs in build-win/, lays out
# the program folder in build-win/deploy/ and packs it into the installer
# build-win/Tarvo-<version>-windows-x64.exe.
#
#   packaging/windows/build.sh [build-dir]
#
# Prints "QT=<prefix>" as its last line, for the scripts that run the tests.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-$ROOT/build-win}
mkdir -p "$BUILD" && BUILD=$(cd "$BUILD" && pwd) # the installer step changes folder
MINGW=x86_64-w64-mingw32

START=$SECONDS
stage() { echo "[windows build +$((SECONDS - START))s] $*" >&2; }

QT=$("$HERE/build-qt.sh" | tail -1)

stage "configuring the Windows build in $BUILD"
mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$HERE/mingw-w64.cmake" -DCMAKE_PREFIX_PATH="$QT" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  >"$BUILD/configure.log" 2>&1 || {
  tail -30 "$BUILD/configure.log" >&2
  exit 1
}

stage "building tarvo.exe and the test programs"
cmake --build "$BUILD" -j"${TARVO_JOBS:-$(nproc)}" >"$BUILD/build.log" 2>&1 || {
  grep -m10 -B2 -A8 'error' "$BUILD/build.log" >&2
  exit 1
}

stage "laying out the program folder in $BUILD/deploy"
rm -rf "$BUILD/deploy"
cmake --install "$BUILD" --prefix "$BUILD/deploy" >/dev/null
find "$BUILD/deploy" -name '*.exe' -o -name '*.dll' | xargs $MINGW-strip --strip-unneeded

stage "packing the installer"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
lists=$BUILD/installer
mkdir -p "$lists"
# The installer names every file it puts down, so that the uninstaller
# removes exactly those and leaves the log and anything else in the folder.
# identity.nsh beside the lists comes from CMake.
(
  cd "$BUILD/deploy"
  : >"$lists/files.nsh"
  : >"$lists/unfiles.nsh"
  for dir in $(find . -type d | sort); do
    win=${dir#.}
    win=${win//\//\\}
    echo "SetOutPath \"\$INSTDIR$win\"" >>"$lists/files.nsh"
    for f in $(find "$dir" -maxdepth 1 -type f | sort); do
      echo "File \"$BUILD/deploy/${f#./}\"" >>"$lists/files.nsh"
      rel=${f#./}
      echo "Delete \"\$INSTDIR\\${rel//\//\\}\"" >>"$lists/unfiles.nsh"
    done
  done
  for dir in $(find . -mindepth 1 -type d | sort -r); do
    rel=${dir#./}
    echo "RMDir \"\$INSTDIR\\${rel//\//\\}\"" >>"$lists/unfiles.nsh"
  done
)
setup=$BUILD/Tarvo-$version-windows-x64.exe
makensis -V2 -DLISTS="$lists" -DOUTFILE="$setup" "$HERE/tarvo.nsi" >&2
stage "done: $setup ($(du -h "$setup" | cut -f1))"
echo "QT=$QT"
