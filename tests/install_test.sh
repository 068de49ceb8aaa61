#!/usr/bin/env bash
# install_test.sh BUILD_DIR: installs a build under a fresh prefix, as `make install` does, and
# checks the layout desktops expect (the link in bin, the desktop entry naming it, the icon in
# the icon theme) and that the installed program, started through its link, finds its page.
set -euo pipefail
build=${1:?usage: install_test.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed: $(cat "$work/install.log")"

[ "$(readlink "$prefix/bin/quillon")" = ../lib/quillon/quillon ] || fail "bin/quillon is not a link to ../lib/quillon/quillon"
[ -x "$prefix/lib/quillon/quillon" ] || fail "no executable in lib/quillon"
[ -f "$prefix/share/icons/hicolor/scalable/apps/quillon.svg" ] || fail "no icon in the icon theme"
entry=$prefix/share/applications/quillon.desktop
[ -f "$entry" ] || fail "no desktop entry"
grep -qx "Exec=$prefix/bin/quillon" "$entry" || fail "the entry does not start $prefix/bin/quillon: $(grep ^Exec "$entry")"
grep -qx "Icon=quillon" "$entry" || fail "the entry does not name the icon"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "the desktop entry is not valid"
fi

# Started through the link, on a simulated home, the headless front end serves the installed page.
"$prefix/bin/quillon" --headless --simulate "$root/tests/scenario/worlds/healthy_home.json" \
    --data-dir "$work/data" >"$work/out.txt" 2>&1 &
app=$!
address=
for _ in $(seq 1 200); do
    address=$(grep -o 'http://127\.0\.0\.1:[0-9]*/[^ ]*' "$work/out.txt" | head -n 1 || true)
    [ -n "$address" ] && break
    kill -0 "$app" 2>/dev/null || fail "the installed program ended: $(cat "$work/out.txt")"
    sleep 0.1
done
[ -n "$address" ] || fail "the installed program printed no address: $(cat "$work/out.txt")"
page=$(curl -sS --max-time 10 "$address") || fail "the page could not be fetched from $address"
grep -q '<div id="app"' <<<"$page" || fail "the installed page is not the application's: $page"
echo "install_test: installed layout and page OK under $prefix"
