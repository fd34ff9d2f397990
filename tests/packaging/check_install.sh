#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what its packages would hold.
#   check_install.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
configured_prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
prefix=$(mktemp -d /tmp/tallyforge-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
fail() { echo "$*"; status=1; }

programs="tallyforge-benchmark tallyforge-results tallyforge-sysinfo"
for f in share/applications/tallyforge-benchmark.desktop share/metainfo/net.tallyforge.benchmark.metainfo.xml \
         share/tallyforge/digest_salt.bin lib/systemd/system/tallyforge-results.service \
         "lib/systemd/system/tallyforge-results@.service" \
         share/doc/tallyforge-benchmark/copyright share/doc/tallyforge-benchmark/changelog.gz \
         share/doc/tallyforge-results/copyright share/doc/tallyforge-results/changelog.gz; do
  [ -e "$prefix/$f" ] || fail "missing: $f"
done
# Every program answers --version without a display, and has a manual page.
for p in $programs; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$p" --version) || fail "$p --version failed"
  [ "$out" = "$p $version" ] || fail "$p --version printed '$out', not '$p $version'"
  zcat "$prefix/share/man/man1/$p.1.gz" 2>/dev/null | grep -q "^\.TH \"\?${p^^}" || fail "no manual page for $p"
done
# Square icons of the sizes their folders name.
for n in 48 64 128 256; do
  icon=share/icons/hicolor/${n}x${n}/apps/tallyforge-benchmark.png
  file "$prefix/$icon" 2>/dev/null | grep -q "PNG image data, $n x $n," || fail "$icon is not a $n x $n PNG"
done
[ "$(stat -c %s "$prefix/share/tallyforge/digest_salt.bin")" = 1024 ] || fail "salt is not 1024 bytes"
desktop=$prefix/share/applications/tallyforge-benchmark.desktop
grep -qx 'Exec=tallyforge-benchmark' "$desktop" || fail "desktop entry does not start the benchmark"
grep -qx 'StartupWMClass=tallyforge-benchmark' "$desktop" || fail "desktop entry names no window class"
# The unit names the paths of the configured prefix, not a fixed /usr.
unit=$prefix/lib/systemd/system/tallyforge-results.service
grep -q "^ExecStart=$configured_prefix/bin/tallyforge-results " "$unit" || fail "unit does not start $configured_prefix/bin/tallyforge-results"
grep -q -- "--salt $configured_prefix/share/tallyforge/digest_salt.bin" "$unit" || fail "unit names another salt"
# The unit ships disabled: nothing may enable it at install time.
[ ! -e "$prefix/lib/systemd/system/multi-user.target.wants" ] || fail "unit enabled at install"
[ "$status" = 0 ] && echo "install tree complete"
exit "$status"
