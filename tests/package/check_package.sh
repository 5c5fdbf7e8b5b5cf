#!/usr/bin/env bash
# check_package.sh BUILD_DIR
#
# Installs a finished build into scratch roots the way a distribution would
# (DESTDIR, several prefixes) and builds the Debian package from it, then
# checks what landed where: the programs, the menu and autostart entries (which
# must validate and point at the installed program and icon), the icons, the
# compressed manual pages, the copyright file and changelog, the AppStream
# metadata (appstreamcli validate), the simulator's usage text, and the
# package's control data, dependencies, conffiles and exact file list; last
# lintian, which must print no error and no warning.
set -uo pipefail

build=${1:?usage: check_package.sh BUILD_DIR}
build=$(cd "$build" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
need_tool() {
    command -v "$1" >/dev/null || { echo "FAIL: $1 is not installed ($2)" >&2; exit 1; }
}
need_tool desktop-file-validate desktop-file-utils
need_tool dpkg-deb dpkg
need_tool dpkg-shlibdeps dpkg-dev
need_tool cpack cmake
need_tool file file
need_tool lintian lintian
need_tool appstreamcli appstream
need_tool systemd-analyze systemd

# Files a /usr installation must hold, relative to the root. The package must
# hold exactly these: anything more (a test program, a benchmark) is a stray
# install rule.
expected_files=(
    etc/xdg/autostart/tarvo.desktop
    lib/systemd/system/tarvod.service
    usr/bin/tarvo
    usr/bin/tarvo-portable
    usr/bin/tarvoctl
    usr/share/applications/tarvo.desktop
    usr/share/icons/hicolor/32x32/apps/tarvo.png
    usr/share/icons/hicolor/scalable/apps/tarvo.svg
    usr/share/doc/tarvo/changelog.gz
    usr/share/doc/tarvo/copyright
    usr/share/man/man1/tarvo-portable.1.gz
    usr/share/man/man1/tarvo.1.gz
    usr/sbin/tarvod
    usr/share/man/man8/tarvod.8.gz
    usr/share/man/man1/tarvoctl.1.gz
    usr/share/metainfo/org.example.tarvo.metainfo.xml
)

install_into() { # ROOT PREFIX
    DESTDIR="$1" cmake --install "$build" --prefix "$2" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log" >&2; fail "cmake --install --prefix $2 failed"; }
}

desktop_value() { # FILE KEY
    sed -n "s/^$2=//p" "$1" | head -n 1
}

# --- A /usr installation under DESTDIR -----------------------------------
root=$work/root
install_into "$root" /usr

for f in "${expected_files[@]}"; do
    [ -f "$root/$f" ] || fail "not installed: /$f"
done
actual=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
expected=$(printf '%s\n' "${expected_files[@]}" | sort)
[ "$actual" = "$expected" ] ||
    fail "installed files differ from the expected set:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

for p in bin/tarvo bin/tarvo-portable bin/tarvoctl sbin/tarvod; do
    [ -x "$root/usr/$p" ] || fail "/usr/$p is not executable"
done

# The unit: disabled unless enabled, started by the service manager as the
# service user, and valid for systemd itself (it needs no running systemd).
unit=$root/lib/systemd/system/tarvod.service
if [ -f "$unit" ]; then
    for line in Type=notify ExecStart=/usr/sbin/tarvod User=tarvo SupplementaryGroups=dialout \
        Restart=on-failure RuntimeDirectory=tarvo StateDirectory=tarvo LogsDirectory=tarvo \
        ConfigurationDirectory=tarvo WantedBy=multi-user.target; do
        grep -qx "$line" "$unit" || fail "tarvod.service lacks $line"
    done
    grep -q '^WatchdogSec=[1-9]' "$unit" || fail "tarvod.service has no watchdog"
    # The control socket's default lies in the folder the unit makes, and its
    # group is the one the service runs in (the socket is made 0660).
    grep -qx Group=tarvo "$unit" || fail "tarvod.service does not run in the group tarvo"
    "$root/usr/sbin/tarvod" --help 2>&1 | grep -q '(default /run/tarvo/control)' ||
        fail "tarvod's control socket is not in its RuntimeDirectory /run/tarvo"
    # verify looks for the program and the manual page on this machine: a
    # copy of the unit names the installed tree's program, man its pages.
    mkdir -p "$work/unit"
    sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$work/unit/tarvod.service"
    out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$work/unit/tarvod.service" 2>&1) &&
        [ -z "$out" ] || fail "systemd-analyze verify tarvod.service: $out"
fi

menu=$root/usr/share/applications/tarvo.desktop
autostart=$root/etc/xdg/autostart/tarvo.desktop
for entry in "$menu" "$autostart"; do
    [ -f "$entry" ] || continue
    out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] ||
        fail "desktop-file-validate ${entry#"$root"}: $out"
    # The entry must start the program and show the icon this installation holds.
    exec_cmd=$(desktop_value "$entry" Exec)
    [ -x "$root/usr/bin/${exec_cmd%% *}" ] || fail "${entry#"$root"}: Exec=$exec_cmd is not an installed program"
    icon=$(desktop_value "$entry" Icon)
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
        fail "${entry#"$root"}: Icon=$icon has no installed icon"
done
if [ -f "$menu" ]; then
    [[ "$(desktop_value "$menu" Categories)" == *Network\;* ]] || fail "menu entry is not in the Network category"
fi
if [ -f "$autostart" ]; then
    [ "$(desktop_value "$autostart" X-GNOME-Autostart-enabled)" = true ] ||
        fail "autostart entry is not enabled"
    ! grep -q '^Hidden=true' "$autostart" || fail "autostart entry is hidden"
    # A desktop's start-up settings list only entries that are displayed.
    ! grep -q '^NoDisplay=true' "$autostart" || fail "autostart entry cannot be switched off in the desktop's settings"
fi

png=$root/usr/share/icons/hicolor/32x32/apps/tarvo.png
[ ! -f "$png" ] || file -b "$png" | grep -q 'PNG image data, 32 x 32' ||
    fail "32x32 icon is $(file -b "$png")"
svg=$root/usr/share/icons/hicolor/scalable/apps/tarvo.svg
[ ! -f "$svg" ] || grep -q '<svg' "$svg" || fail "scalable icon is not an SVG"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for page in tarvo tarvo-portable tarvoctl tarvod; do
    src=$(ls "$root"/usr/share/man/man*/"$page".[18].gz 2>/dev/null | head -n 1)
    [ -f "$src" ] || continue
    gzip -t "$src" 2>/dev/null || fail "man page $page is not gzip data"
    command -v groff >/dev/null || continue
    warnings=$(zcat "$src" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "man page $page: $warnings"
    zcat "$src" | groff -man -Tutf8 2>/dev/null | grep -q "$page" || fail "man page $page does not name $page"
done

# The changelog's latest entry is this version; the copyright file is the
# machine-readable kind.
changelog=$root/usr/share/doc/tarvo/changelog.gz
if [ -f "$changelog" ]; then
    top=$(zcat "$changelog" | head -n 1)
    [[ $top == "tarvo ($version) "* ]] || fail "the changelog's latest entry is not $version: $top"
fi
copyright=$root/usr/share/doc/tarvo/copyright
[ ! -f "$copyright" ] || head -n 1 "$copyright" | grep -q '^Format: .*copyright-format/1.0/' ||
    fail "the copyright file is not in the machine-readable format"

# The software centres' entry: valid, of this version, launching the menu entry.
metainfo=$root/usr/share/metainfo/org.example.tarvo.metainfo.xml
if [ -f "$metainfo" ]; then
    out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "the AppStream metadata has no release $version"
    launched=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [ -f "$root/usr/share/applications/$launched" ] || fail "the AppStream metadata launches '$launched', not installed"
fi

# --- The simulator runs from the installed tree --------------------------
if [ -x "$root/usr/bin/tarvo-portable" ]; then
    usage=$(QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/tarvo-portable" --help 2>&1)
    status=$?
    [ $status -eq 0 ] || fail "tarvo-portable --help exited with $status"
    grep -qi 'usage' <<<"$usage" || fail "tarvo-portable --help printed no usage: $usage"
fi

# --- The autostart entry follows the prefix chosen at install time -------
# Only /usr and / keep the system configuration in /etc; other prefixes own it.
while read -r prefix confdir; do
    r=$work/prefix-$RANDOM
    install_into "$r" "$prefix"
    [ -f "$r$confdir/xdg/autostart/tarvo.desktop" ] ||
        fail "--prefix $prefix: autostart entry not in $confdir/xdg/autostart ($(cd "$r" && find . -name tarvo.desktop -path '*autostart*'))"
    [ -x "$r$prefix/bin/tarvo" ] || fail "--prefix $prefix: tarvo not in $prefix/bin"
done <<'EOF'
/usr/local /usr/local/etc
/opt/tarvo /etc/opt/tarvo
/ /etc
EOF

# --- The Debian package ---------------------------------------------------
debdir=$work/deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$debdir" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
arch=$(dpkg --print-architecture)
deb=$debdir/tarvo_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
    fail "no $(basename "$deb"); cpack made: $(ls "$debdir")"
else
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = tarvo ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version), project is $version"
    [ "$(field Section)" = net ] || fail "Section: $(field Section)"
    [ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer"
    [ -n "$(field Description)" ] || fail "no Description"
    depends=$(field Depends)
    for lib in libc6 libqt6core6 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins adduser; do
        [[ ",$depends," =~ [,\ ]$lib[,\ ] ]] || fail "Depends lacks $lib: $depends"
    done

    packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort)
    [ "$packaged" = "$expected" ] ||
        fail "package files differ from the expected set:"$'\n'"$(diff <(echo "$expected") <(echo "$packaged"))"

    control=$work/control
    dpkg-deb -e "$deb" "$control"
    grep -qx '/etc/xdg/autostart/tarvo.desktop' "$control/conffiles" 2>/dev/null ||
        fail "the autostart entry is not a conffile"
    # Every conffile must be a file of the package, or dpkg refuses to install it.
    while read -r conf; do
        grep -qx "${conf#/}" <<<"$packaged" || fail "conffile $conf is not in the package"
    done <"$control/conffiles"

    unpacked=$work/unpacked
    dpkg-deb -x "$deb" "$unpacked"
    for f in usr/share/applications/tarvo.desktop etc/xdg/autostart/tarvo.desktop; do
        cmp -s "$unpacked/$f" "$root/$f" || fail "/$f in the package differs from cmake --install"
    done
    if [ -x "$unpacked/usr/bin/tarvo-portable" ]; then
        QT_QPA_PLATFORM=offscreen timeout 20 "$unpacked/usr/bin/tarvo-portable" --help 2>&1 |
            grep -qi usage || fail "the packaged tarvo-portable does not run"
    fi

    # The service user is made, and the unit registered without being
    # enabled, through Debian's helpers.
    grep -q 'addgroup --system --quiet tarvo' "$control/postinst" ||
        fail "postinst makes no system group tarvo"
    grep -q 'adduser --system --ingroup tarvo' "$control/postinst" ||
        fail "postinst makes no system user"
    grep -q 'adduser --quiet tarvo dialout' "$control/postinst" ||
        fail "postinst does not put the service user in dialout"
    grep -q "deb-systemd-helper update-state 'tarvod.service'" "$control/postinst" ||
        fail "postinst does not register the unit"
    ! grep -q 'deb-systemd-helper enable' "$control/postinst" || fail "postinst enables the unit"
    ! grep -qw systemctl "$control/postinst" "$control/prerm" "$control/postrm" ||
        fail "a maintainer script calls systemctl"

    # Debian's own checker: no error, no warning (its notes, I:, may stay).
    problems=$(lintian --no-cfg "$deb" 2>&1 | grep -E '^[EW]: ')
    [ -z "$problems" ] || fail "lintian:"$'\n'"$problems"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package checks passed: $deb"
