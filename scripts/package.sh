#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package of Tavrin and checks it.
#
#   scripts/package.sh [BUILD_DIR]          (default: build-package)
#
# JOBS=N sets the build's parallel jobs (default: all cores).
#
# 1. A Release build for the prefix /usr (the folders the man pages name),
#    with Debian's compiler flags (dpkg-buildflags, all hardening), without
#    tests and benchmarks, with real adapters and the window.
# 2. `cpack -G DEB` makes BUILD_DIR/tavrin_<version>_<arch>.deb; dpkg-shlibdeps
#    writes its Depends from the libraries the programs link.
# 3. Checks. No container tool is at hand, and the computer's own package
#    database is left alone, so the package is installed with dpkg into a
#    throw-away root that has a dpkg database of its own (dpkg --root). That
#    root holds no libraries, so dpkg is told not to mind the dependencies,
#    and the programs run from it with this computer's libraries. Instead, the
#    dependencies are checked one by one: every library a program needs
#    (readelf's NEEDED) must be found here (ldd) and must come from a package
#    that Depends names (dpkg -S), so that apt brings it in elsewhere; the
#    libraries those need come with those packages' own dependencies.
#    Checked:
#    - dpkg installs the package into the throw-away root, and every file is
#      where it should be;
#    - the programs are stripped, the man pages are gzip files;
#    - the installed tavrin-play prints its version and plays the installed
#      examples/idcode.svf on the virtual board (exit status 0, its three
#      checks passed); the installed window plays it too, without a
#      display, and saves its picture;
#    - Depends covers every library the programs need, libftdi1 (real
#      adapters) and Qt 6 (the window) among them;
#    - dpkg purges the package from the root again, leaving no file behind.
# 4. lintian: its remarks are printed; an error (E:) fails the script.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-package}
jobs=${JOBS:-$(nproc)}

./scripts/install-deps.sh --package

echo "== Release build for /usr in $build"
# Debian's compiler and linker flags, all hardening on (fortified functions,
# stack protector, read-only relocations bound at start-up).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DTAVRIN_WITH_FTDI=ON -DTAVRIN_WITH_QT=ON -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_BENCH=OFF
cmake --build "$build" -j"$jobs"

echo "== cpack -G DEB"
rm -f "$build"/tavrin_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/tavrin_*.deb)
[ "$(printf '%s\n' "$deb" | wc -l)" -eq 1 ] || { echo "package.sh: more than one package: $deb" >&2; exit 1; }
dpkg-deb --info "$deb"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"

echo "== dpkg --root $root --install"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends --force-not-root --install "$deb"
status=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${db:Status-Status}' tavrin)
[ "$status" = installed ] || fail "dpkg left the package '$status' in the throw-away root"

echo "== the installed files"
for f in usr/bin/tavrin-play usr/bin/tavrin \
  usr/share/man/man1/tavrin-play.1.gz usr/share/man/man1/tavrin.1.gz \
  usr/share/applications/tavrin.desktop usr/share/mime/packages/tavrin.xml \
  usr/share/icons/hicolor/scalable/apps/tavrin.svg \
  usr/share/bash-completion/completions/tavrin-play \
  usr/share/tavrin/examples/idcode.svf usr/share/tavrin/examples/selftest-loopback.svf \
  usr/share/tavrin/examples/boards/default.json usr/share/tavrin/examples/boards/two-device-chain.json \
  usr/share/tavrin/examples/boards/xc2c64a.json \
  usr/lib/udev/rules.d/60-tavrin-ftdi.rules \
  usr/share/doc/tavrin/README.md usr/share/doc/tavrin/copyright usr/share/doc/tavrin/changelog.gz; do
  [ -f "$root/$f" ] || fail "not installed: /$f"
done
for f in usr/bin/tavrin-play usr/bin/tavrin; do
  [ -f "$root/$f" ] || continue
  if readelf -S "$root/$f" | grep -qE '\.symtab|\.comment'; then fail "not stripped: /$f"; fi
done
for f in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/doc/tavrin/*.gz; do
  gzip -t "$f" || fail "not a sound gzip file: $f"
done

echo "== the installed programs"
out=$("$root/usr/bin/tavrin-play" --version) || fail "tavrin-play --version ended with status $?"
echo "$out"
version=$(dpkg-deb -f "$deb" Version)
[ "$out" = "tavrin-play $version" ] || fail "tavrin-play --version printed '$out', the package is $version"
examples="$root/usr/share/tavrin/examples"
if "$root/usr/bin/tavrin-play" "$examples/idcode.svf" >"$work/play.out" 2>"$work/play.err"; then
  cat "$work/play.out" "$work/play.err"
  # The file's three checks: IR capture, IDCODE, the SCRATCH register.
  [ "$(grep -c 'Pass!$' "$work/play.out")" -eq 3 ] || fail "tavrin-play did not pass the file's three checks"
else
  cat "$work/play.out" "$work/play.err"
  fail "tavrin-play played the installed idcode.svf with a failure"
fi
if QT_QPA_PLATFORM=offscreen "$root/usr/bin/tavrin" --screenshot "$work/window.png" --play "$examples/idcode.svf"; then
  case $(file -b "$work/window.png") in
    PNG*) echo "tavrin played idcode.svf and saved its picture" ;;
    *) fail "tavrin --screenshot saved no PNG picture" ;;
  esac
else
  fail "tavrin --screenshot --play idcode.svf ended with a failure"
fi

echo "== Depends against the libraries the programs need"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names of Depends, one a line.
printf '%s\n' "$depends" | tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/:any//; s/[[:space:]]//g' | sed '/^$/d' |
  sort -u >"$work/depends"
for program in "$root"/usr/bin/*; do
  for lib in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(ldd "$program" | awk -v lib="$lib" '$1 == lib && $3 ~ /^\// { print $3 }')
    if [ -z "$path" ]; then
      fail "$(basename "$program") needs $lib, which is not found here"
      continue
    fi
    # dpkg knows the library by the path its package installed it at: with
    # /usr merged, /lib/... and /usr/lib/... are one folder.
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null ||
      dpkg -S "${path#/usr}" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null || true)
    package=$(printf '%s\n' "$owner" | head -n 1 | sed 's/:.*//')
    if [ -z "$package" ]; then
      fail "$(basename "$program") needs $lib ($path), which no package installed"
    elif grep -qxF "$package" "$work/depends"; then
      echo "$(basename "$program"): $lib from $package"
    else
      fail "$(basename "$program") needs $lib from $package, which Depends does not name"
    fi
  done
done
grep -q '^libftdi1' "$work/depends" || fail "Depends names no libftdi1: the package has no real adapters"
grep -q '^libqt6widgets6' "$work/depends" || fail "Depends names no libqt6widgets6: the package has no window"

echo "== dpkg --root $root --purge"
dpkg --root="$root" --force-depends --force-not-root --purge tavrin
left=$(find "$root" ! -type d ! -path "$root/var/lib/dpkg/*" | head -n 20)
[ -z "$left" ] || fail "files left after purging: $left"

echo "== lintian"
# lintian warns when it runs as root; that is its only remark about us.
lintian_status=0
lintian --display-info --fail-on error "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$work/lintian" || echo "(no remarks)"
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors (E:)"

if [ "$failures" -ne 0 ]; then
  echo "package.sh: $failures checks failed for $deb"
  exit 1
fi
echo "package.sh: $deb is built and checked"
