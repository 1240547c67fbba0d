#!/usr/bin/env bash
# End to end: the Debian package made by cpack from the build directory's install rules. Checks its
# control fields and files, validates the AppStream data, desktop entry and user unit it carries,
# and runs both programs from the package unpacked into a throw-away root (dpkg -x): the desktop
# app must open its window with the QML modules of this system, each of them named in Depends.
# Nothing is installed on the machine.
# Usage: package_test.sh BUILD-DIR SOURCE-DIR VERSION QML-DIR   (runs itself again inside xvfb-run)
set -euo pipefail
BUILD=$(readlink -f "$1") SOURCE=$(readlink -f "$2") VERSION=$3 QMLDIR=$4

if [ -z "${LOOMWATCH_E2E_INNER:-}" ]; then
    for tool in cpack dpkg-deb dpkg-shlibdeps appstreamcli desktop-file-validate xvfb-run xwininfo dbus-run-session; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    export LOOMWATCH_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d /tmp/loomwatch-package-XXXXXX)
app_pid=
cleanup() {
    [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
wait_for() { # SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.1; done
}

# -B keeps the package and cpack's staging tree out of the build directory.
cpack --config "$BUILD/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
# The file is named after the Package and Version fields.
deb=$work/out/loomwatch_${VERSION}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$work/out")"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
for name in Maintainer Description Homepage Section; do
    [ -n "$(field "$name")" ] || fail "the $name field is empty"
done
depends=$(field Depends)
depends_on() { sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends" | grep -qxF "$1"; }
# The computed part: the libraries the two programs link.
for pkg in libc6 libstdc++6 libqt6core6 libqt6dbus6 libqt6quick6 libqt6svg6 libsqlite3-0 libre2-9; do
    depends_on "$pkg" || fail "Depends lacks $pkg: $depends"
done
! grep -qE -- '-dev( |,|$)' <<<"$depends" || fail "Depends names a development package: $depends"

# Files: each kind the install rules put in place, and nothing outside /usr.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
for path in /usr/bin/loomwatch /usr/bin/loomwatch-cli \
    /usr/share/applications/loomwatch.desktop /usr/share/icons/hicolor/scalable/apps/loomwatch.svg \
    /usr/share/metainfo/io.github.loomwatch.Loomwatch.metainfo.xml \
    /usr/share/man/man1/loomwatch.1 /usr/share/man/man1/loomwatch-cli.1 \
    /usr/share/bash-completion/completions/loomwatch-cli /usr/share/zsh/vendor-completions/_loomwatch-cli \
    /usr/share/fish/vendor_completions.d/loomwatch-cli.fish \
    /usr/lib/systemd/user/loomwatch-notify.service /usr/share/doc/loomwatch/copyright; do
    grep -qx "$path" "$work/files" || fail "the package lacks $path"
done
if [ -f "$SOURCE/resources/icons/loomwatch-symbolic.svg" ]; then
    grep -q '^/usr/share/icons/hicolor/.*/loomwatch-symbolic\.svg$' "$work/files" ||
        fail "the package lacks the symbolic icon"
fi
outside=$(grep -vE '^/(usr/.*)?$' "$work/files" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"

root=$work/root
dpkg -x "$deb" "$root"

# The metadata, through the tools that read it.
metainfo=$root/usr/share/metainfo/io.github.loomwatch.Loomwatch.metainfo.xml
# --strict fails on warnings too; validate-tree also matches the launchable to the desktop entry.
appstreamcli validate --no-net --strict "$metainfo" >"$work/appstream.log" 2>&1 &&
    appstreamcli validate-tree --no-net --strict "$root" >>"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli rejects the metainfo"; }
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
[ "$newest" = "$VERSION" ] || fail "the metainfo's newest release is $newest, the package's $VERSION"
desktop-file-validate "$root/usr/share/applications/loomwatch.desktop" >"$work/desktop.log" 2>&1 ||
    { cat "$work/desktop.log" >&2; fail "desktop-file-validate rejects the desktop entry"; }
if command -v systemd-analyze >/dev/null; then
    # Verified as installed: the program and the man page it names come from the unpacked root.
    mkdir -p "$work/units" -m 700 "$work/runtime"
    sed "s|^ExecStart=loomwatch-cli |ExecStart=$root/usr/bin/loomwatch-cli |" \
        "$root/usr/lib/systemd/user/loomwatch-notify.service" >"$work/units/loomwatch-notify.service"
    # A key or value it does not know is only warned about: any output counts as a rejection.
    XDG_RUNTIME_DIR=$work/runtime MANPATH=$root/usr/share/man \
        systemd-analyze verify --user "$work/units/loomwatch-notify.service" >"$work/unit.log" 2>&1 &&
        [ ! -s "$work/unit.log" ] || { cat "$work/unit.log" >&2; fail "systemd-analyze rejects the user unit"; }
fi

# Both programs from the unpacked root, over an empty home.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" -m 700 "$XDG_RUNTIME_DIR"
[ "$("$root/usr/bin/loomwatch-cli" --version)" = "loomwatch-cli $VERSION" ] || fail "loomwatch-cli --version"
[ "$(env -u DISPLAY "$root/usr/bin/loomwatch" --version)" = "loomwatch $VERSION" ] || fail "loomwatch --version"

QT_QPA_PLATFORM=xcb QML_IMPORT_TRACE=1 "$root/usr/bin/loomwatch" >"$work/app.log" 2>&1 &
app_pid=$!
window_shown() {
    kill -0 "$app_pid" 2>/dev/null || { tail -20 "$work/app.log" >&2; fail "loomwatch exited"; }
    xwininfo -root -tree | grep -q '"Loomwatch": ('
}
wait_for 30 window_shown || { tail -20 "$work/app.log" >&2; fail "loomwatch showed no window"; }
kill "$app_pid"
wait "$app_pid" || true
app_pid=

# Every QML module the app imported while starting, and every one its sources import, must come
# from a package that Depends names.
grep -q 'addLibraryImport: ' "$work/app.log" || fail "no QML import was traced"
{
    sed -n 's/^.*addLibraryImport: [^ ]* "\([^"]*\)".*$/\1/p' "$work/app.log"
    find "$SOURCE/ui" -name '*.qml' -exec sed -n 's/^import \([A-Za-z.]*\).*$/\1/p' {} +
} | grep -vx Loomwatch | sort -u >"$work/modules"
while read -r module; do
    qmldir_file=$QMLDIR/${module//.//}/qmldir
    [ -f "$qmldir_file" ] || fail "QML module $module is not installed here"
    pkg=$(dpkg -S "$qmldir_file" | cut -d: -f1)
    depends_on "$pkg" || fail "QML module $module comes from $pkg, which Depends lacks"
done <"$work/modules"

echo "package test passed: $(basename "$deb"), $(wc -l <"$work/modules") QML modules covered"
