#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a package of it would hold.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/tallyforge-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/tallyforge-benchmark bin/tallyforge-results bin/tallyforge-sysinfo \
         share/applications/tallyforge-benchmark.desktop share/pixmaps/tallyforge-benchmark.png \
         share/tallyforge/digest_salt.bin lib/systemd/system/tallyforge-results.service \
         "lib/systemd/system/tallyforge-results@.service"; do
  [ -e "$prefix/$f" ] || { echo "missing: $f"; status=1; }
done
[ "$(stat -c %s "$prefix/share/tallyforge/digest_salt.bin")" = 1024 ] || { echo "salt is not 1024 bytes"; status=1; }
grep -qx 'Exec=tallyforge-benchmark' "$prefix/share/applications/tallyforge-benchmark.desktop" ||
  { echo "desktop entry does not start the benchmark"; status=1; }
# The unit ships disabled: nothing may enable it at install time.
[ ! -e "$prefix/lib/systemd/system/multi-user.target.wants" ] || { echo "unit enabled at install"; status=1; }
[ "$status" = 0 ] && echo "install tree complete"
exit "$status"
