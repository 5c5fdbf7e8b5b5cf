#!/usr/bin/env bash
# Cross-builds the Qt the Windows program needs (a reduced qtbase with Network
# for the local control channel, plus qtserialport, 6.4.2 like Debian's host
# Qt) with Debian's MinGW-w64, once.
# The result is kept outside the clone under the user's cache, keyed by a hash
# of how Qt is patched, configured and built, so any change there makes a
# fresh one and an unchanged recipe reuses it.
#
# Prints the Qt prefix as the last line of standard output; progress goes to
# standard error. Needs: g++-mingw-w64-x86-64-posix, qt6-base-dev-tools,
# dpkg-dev and a deb-src entry for `apt-get source qt6-base` (added here when
# missing).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
QT_VERSION=6.4.2
SERIALPORT_TARBALL=$HERE/vendor/qtserialport-$QT_VERSION-src.tar.xz
SERIALPORT_SHA256=19858e55be44f972914960cd79958c6a6907f7e6ca73501594051c536f4aa73a
JOBS=${TARVO_JOBS:-$(nproc)}

START=$SECONDS
stage() { echo "[windows qt +$((SECONDS - START))s] $*" >&2; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The source entry is made from the machine's own apt sources, so the build
# uses whatever mirror this machine is set up with and the project names none:
# the first URIs of a "Types: deb" stanza, else the first deb line of
# sources.list.
archive_uri() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk 'BEGIN { RS = "" }
      {
        deb = 0; first = ""
        n = split($0, line, "\n")
        for (i = 1; i <= n; i++) {
          if (line[i] ~ /^Types:.*[ \t]deb([ \t]|$)/) deb = 1
          if (line[i] ~ /^URIs:/ && first == "") { split(line[i], w, /[ \t]+/); first = w[2] }
        }
        if (deb && first != "") { print first; exit }
      }' "$f")
    [ -z "$uri" ] || {
      echo "$uri"
      return
    }
  done
  uri=$(sed -n 's/^[[:space:]]*deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]\+\).*/\2/p' \
    /etc/apt/sources.list 2>/dev/null | head -1)
  [ -n "$uri" ] && echo "$uri"
}

ensure_deb_src() {
  if apt-get source --print-uris qt6-base >/dev/null 2>&1; then return; fi
  local uri codename
  uri=$(archive_uri) || {
    echo "No deb entry in /etc/apt/sources.list or /etc/apt/sources.list.d/*.sources:" >&2
    echo "add a deb-src entry for Debian's main archive and run this again." >&2
    return 1
  }
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  stage "adding a deb-src entry for Debian's qt6-base source from $uri"
  printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" "$codename" "$codename" | as_root tee /etc/apt/sources.list.d/tarvo-deb-src.sources >/dev/null
  as_root apt-get update -qq
}

fetch_qtbase() {
  ensure_deb_src
  stage "downloading qtbase source (apt-get source qt6-base)"
  (cd "$WORK" && apt-get source --download-only qt6-base >/dev/null 2>&1)
  local orig
  orig=$(ls "$WORK"/qt6-base_"$QT_VERSION"*.orig.tar.xz)
  stage "unpacking $(basename "$orig")"
  tar -C "$WORK" -xf "$orig"
  mv "$WORK"/qtbase-everywhere-src-"$QT_VERSION" "$WORK/qtbase"
}

# Debian's source drops the Wintab headers, so the windows platform plugin is
# built without Wintab tablets (pen input through WM_POINTER still works).
patch_out_wintab() {
  local dir=$WORK/qtbase/src/plugins/platforms/windows
  sed -i '/qwindowstabletsupport.cpp qwindowstabletsupport.h/d' "$dir/CMakeLists.txt"
  sed -i 's/QT_CONFIG(tabletevent)/0 \/* no Wintab *\//' "$dir/qwindowscontext.cpp"
  sed -i 's/^#  include "qwindowstabletsupport.h"$//' "$dir/qwindowspointerhandler.cpp"
}

fetch_qtserialport() {
  if (cd "$WORK" && apt-get source --download-only qt6-serialport >/dev/null 2>&1); then
    stage "unpacking qtserialport from the archive"
    tar -C "$WORK" -xf "$(ls "$WORK"/qt6-serialport_"$QT_VERSION"*.orig.tar.xz)"
    mv "$WORK"/qtserialport-everywhere-src-"$QT_VERSION" "$WORK/qtserialport"
    return
  fi
  stage "the archive has no qtserialport source; using the copy in packaging/windows/vendor"
  echo "$SERIALPORT_SHA256  $SERIALPORT_TARBALL" | sha256sum --check --quiet
  mkdir -p "$WORK/qtserialport"
  tar -C "$WORK/qtserialport" --strip-components=1 -xf "$SERIALPORT_TARBALL"
}

build_qtbase() {
  stage "configuring qtbase"
  cmake -G Ninja -S "$WORK/qtbase" -B "$WORK/build-qtbase" \
    -DCMAKE_TOOLCHAIN_FILE="$HERE/mingw-w64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=ON -DFEATURE_ssl=OFF -DFEATURE_schannel=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_icu=OFF -DFEATURE_direct2d1_1=OFF \
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF \
    -DFEATURE_optimize_size=ON -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_movie=OFF \
    -DFEATURE_pdf=OFF -DFEATURE_textodfwriter=OFF -DFEATURE_textmarkdownreader=OFF \
    -DFEATURE_textmarkdownwriter=OFF -DFEATURE_undocommand=OFF -DFEATURE_undostack=OFF \
    -DFEATURE_undogroup=OFF -DFEATURE_undoview=OFF -DFEATURE_syntaxhighlighter=OFF \
    -DFEATURE_graphicsview=OFF -DFEATURE_graphicseffect=OFF \
    -DFEATURE_dockwidget=OFF -DFEATURE_mdiarea=OFF \
    -DFEATURE_calendarwidget=OFF -DFEATURE_datetimeedit=OFF -DFEATURE_colordialog=OFF \
    -DFEATURE_fontdialog=OFF -DFEATURE_errormessage=OFF \
    -DFEATURE_progressdialog=OFF -DFEATURE_wizard=OFF -DFEATURE_lcdnumber=OFF \
    -DFEATURE_dial=OFF -DFEATURE_fontcombobox=OFF -DFEATURE_keysequenceedit=OFF \
    -DFEATURE_commandlinkbutton=OFF -DFEATURE_splashscreen=OFF -DFEATURE_columnview=OFF \
    -DFEATURE_toolbox=OFF \
    >"$WORK/configure-qtbase.log" 2>&1 || {
    tail -40 "$WORK/configure-qtbase.log" >&2
    return 1
  }
  stage "building qtbase with $JOBS jobs (the long step: 15-30 minutes on 2 cores)"
  local total=0 last=-1
  # Ninja's [done/total] counter becomes a percentage line every 5%.
  if ! cmake --build "$WORK/build-qtbase" -j"$JOBS" 2>&1 | tee "$WORK/build-qtbase.log" |
    while IFS= read -r line; do
      if [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
        total=${BASH_REMATCH[2]}
        local pct=$((BASH_REMATCH[1] * 100 / total))
        if ((pct / 5 != last)); then
          last=$((pct / 5))
          stage "qtbase ${pct}% (${BASH_REMATCH[1]}/$total)"
        fi
      fi
    done; then
    grep -m5 -A5 'error' "$WORK/build-qtbase.log" >&2
    return 1
  fi
  stage "installing qtbase"
  cmake --install "$WORK/build-qtbase" >/dev/null
}

build_qtserialport() {
  stage "configuring and building qtserialport"
  "$PREFIX/bin/qt-cmake" -G Ninja -S "$WORK/qtserialport" -B "$WORK/build-qtserialport" \
    -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    >"$WORK/configure-qtserialport.log" 2>&1 || {
    tail -40 "$WORK/configure-qtserialport.log" >&2
    return 1
  }
  cmake --build "$WORK/build-qtserialport" -j"$JOBS" >"$WORK/build-qtserialport.log" 2>&1 || {
    grep -m5 -A5 'error' "$WORK/build-qtserialport.log" >&2
    return 1
  }
  cmake --install "$WORK/build-qtserialport" >/dev/null
}

# The cache key covers what shapes the result: the Qt version, the steps that
# patch, configure and build it, and the toolchain file. How the sources are
# fetched is left out, so a change there reuses a finished build.
key=$({
  echo "$QT_VERSION"
  declare -f patch_out_wintab build_qtbase build_qtserialport
  cat "$HERE/mingw-w64.cmake"
} | sha256sum | cut -c1-16)
CACHE_ROOT=${XDG_CACHE_HOME:-$HOME/.cache}/tarvo-windows
PREFIX=$CACHE_ROOT/qt-$QT_VERSION-$key
if [ -f "$PREFIX/.complete" ]; then
  stage "reusing $PREFIX"
  echo "$PREFIX"
  exit 0
fi

WORK=$CACHE_ROOT/work-$key
rm -rf "$WORK" "$PREFIX"
mkdir -p "$WORK"
trap 'stage "failed; the partial build is left in $WORK"' ERR

stage "building Qt $QT_VERSION for Windows into $PREFIX"
fetch_qtbase
patch_out_wintab
fetch_qtserialport
build_qtbase
build_qtserialport
touch "$PREFIX/.complete"
rm -rf "$WORK"
stage "Qt for Windows ready ($(du -sh "$PREFIX" | cut -f1))"
echo "$PREFIX"
