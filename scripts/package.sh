#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the two Debian packages of Tavrin and checks them.
#
#   scripts/package.sh [BUILD_DIR]          (default: build-package)
#
# JOBS=N sets the build's parallel jobs (default: all cores).
#
# 1. A Release build for the prefix /usr (the folders the man pages name),
#    with Debian's compiler flags (dpkg-buildflags, all hardening), without
#    tests and benchmarks, with real adapters and the window.
# 2. `cpack -G DEB` makes one package per install component in BUILD_DIR:
#    tavrin-play_<version>_<arch>.deb (the command-line player, its man page,
#    completion, examples, board files, udev rule and documents; no Qt) and
#    tavrin_<version>_<arch>.deb (the window, its man page, menu entry, icon
#    and the .svf file type; it depends on tavrin-play of the same version).
#    dpkg-shlibdeps writes each one's Depends from the libraries its program
#    links.
# 3. Checks. No container tool is at hand, and the computer's own package
#    database is left alone, so the packages are installed with dpkg into a
#    throw-away root that has a dpkg database of its own (dpkg --root). That
#    root holds no libraries, so dpkg is told not to mind the dependencies,
#    and the programs run from it with this computer's libraries. Instead, the
#    dependencies are checked one by one: every library a program needs
#    (readelf's NEEDED) must be found here (ldd) and must come from a package
#    that its package's Depends names (dpkg -S), so that apt brings it in
#    elsewhere; the libraries those need come with those packages' own
#    dependencies. Checked:
#    - dpkg installs tavrin-play alone into the throw-away root, then tavrin
#      beside it, and every file of each is where it should be, in its own
#      package (dpkg -L);
#    - the programs are stripped, the man pages and changelogs are gzip
#      files;
#    - the installed tavrin-play prints its version and plays the installed
#      examples/idcode.svf on the virtual board (exit status 0, its three
#      checks passed), before the window's package is there; the installed
#      window plays it too, without a display, and saves its picture;
#    - each Depends covers every library its program needs, libftdi1 (real
#      adapters) for both, Qt 6 for the window; tavrin Depends on
#      tavrin-play (= version); tavrin-play's Depends names no Qt package and
#      its program needs no Qt library, nor does any library it needs (ldd);
#    - dpkg purges both packages from the root again, leaving no file behind.
# 4. lintian on both: its remarks are printed; an error or a warning fails
#    the script.
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
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
player_deb="$build/tavrin-play_${version}_${arch}.deb"
window_deb="$build/tavrin_${version}_${arch}.deb"
for deb in "$player_deb" "$window_deb"; do
  [ -f "$deb" ] || { echo "package.sh: cpack made no $deb" >&2; ls "$build"/*.deb >&2; exit 1; }
  dpkg-deb --info "$deb"
done

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"

# dpkg_install PACKAGE DEB: installs it into the throw-away root.
dpkg_install() {
  echo "== dpkg --root $root --install $(basename "$2")"
  dpkg --root="$root" --force-depends --force-not-root --install "$2"
  status=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${db:Status-Status}' "$1")
  [ "$status" = installed ] || fail "dpkg left $1 '$status' in the throw-away root"
}
# check_files PACKAGE FILE...: each file is installed, and by that package.
check_files() {
  package=$1
  shift
  dpkg-query --admindir="$root/var/lib/dpkg" -L "$package" >"$work/files-$package"
  for f in "$@"; do
    [ -f "$root/$f" ] || fail "not installed: /$f"
    grep -qxF "/$f" "$work/files-$package" || fail "/$f is not in $package"
  done
}

dpkg_install tavrin-play "$player_deb"
echo "== the files of tavrin-play"
check_files tavrin-play usr/bin/tavrin-play usr/share/man/man1/tavrin-play.1.gz \
  usr/share/bash-completion/completions/tavrin-play \
  usr/share/tavrin/examples/idcode.svf usr/share/tavrin/examples/selftest-loopback.svf \
  usr/share/tavrin/examples/boards/default.json usr/share/tavrin/examples/boards/two-device-chain.json \
  usr/share/tavrin/examples/boards/xc2c64a.json \
  usr/lib/udev/rules.d/60-tavrin-ftdi.rules \
  usr/share/doc/tavrin-play/README.md usr/share/doc/tavrin-play/copyright usr/share/doc/tavrin-play/changelog.gz
# The README's links to docs/ lead to installed files.
grep -oE '\]\(docs/[^)#]+' README.md | sed 's/^](//' | sort -u | while IFS= read -r doc; do
  [ -f "$root/usr/share/doc/tavrin-play/$doc" ] || echo "$doc"
done >"$work/missing-docs"
while IFS= read -r doc; do
  fail "the installed README links to $doc, which is not installed beside it"
done <"$work/missing-docs"
[ ! -e "$root/usr/bin/tavrin" ] || fail "tavrin-play installs /usr/bin/tavrin"

echo "== the installed tavrin-play, without the window's package"
out=$("$root/usr/bin/tavrin-play" --version) || fail "tavrin-play --version ended with status $?"
echo "$out"
[ "$out" = "tavrin-play $version" ] || fail "tavrin-play --version printed '$out', the package is $version"
examples="$root/usr/share/tavrin/examples"
if "$root/usr/bin/tavrin-play" --virtual "$examples/idcode.svf" >"$work/play.out" 2>"$work/play.err"; then
  cat "$work/play.out" "$work/play.err"
  # The file's three checks: IR capture, IDCODE, the SCRATCH register.
  [ "$(grep -c 'Pass!$' "$work/play.out")" -eq 3 ] || fail "tavrin-play did not pass the file's three checks"
else
  cat "$work/play.out" "$work/play.err"
  fail "tavrin-play played the installed idcode.svf with a failure"
fi

dpkg_install tavrin "$window_deb"
echo "== the files of tavrin"
check_files tavrin usr/bin/tavrin usr/share/man/man1/tavrin.1.gz \
  usr/share/applications/tavrin.desktop usr/share/mime/packages/tavrin.xml \
  usr/share/icons/hicolor/scalable/apps/tavrin.svg \
  usr/share/doc/tavrin/copyright usr/share/doc/tavrin/changelog.gz
for f in usr/bin/tavrin-play usr/bin/tavrin; do
  [ -f "$root/$f" ] || continue
  if readelf -S "$root/$f" | grep -qE '\.symtab|\.comment'; then fail "not stripped: /$f"; fi
done
for f in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/doc/*/*.gz; do
  gzip -t "$f" || fail "not a sound gzip file: $f"
done

echo "== the installed window"
if QT_QPA_PLATFORM=offscreen "$root/usr/bin/tavrin" --screenshot "$work/window.png" --play "$examples/idcode.svf"; then
  case $(file -b "$work/window.png") in
    PNG*) echo "tavrin played idcode.svf and saved its picture" ;;
    *) fail "tavrin --screenshot saved no PNG picture" ;;
  esac
else
  fail "tavrin --screenshot --play idcode.svf ended with a failure"
fi

# check_depends DEB PROGRAM: every library the program needs comes from a
# package that the package's Depends names.
check_depends() {
  deb=$1 program=$2
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "$(dpkg-deb -f "$deb" Package) Depends: $depends"
  # The package names of Depends, one a line.
  printf '%s\n' "$depends" | tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/:any//; s/[[:space:]]//g' | sed '/^$/d' |
    sort -u >"$work/depends"
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
}

echo "== Depends against the libraries the programs need"
check_depends "$player_deb" "$root/usr/bin/tavrin-play"
grep -q '^libftdi1' "$work/depends" || fail "tavrin-play's Depends names no libftdi1: no real adapters"
if grep -qiE '^(libqt|qt6)' "$work/depends"; then fail "tavrin-play's Depends names a Qt package"; fi
if ldd "$root/usr/bin/tavrin-play" | grep -qi 'libqt'; then fail "tavrin-play needs a Qt library (ldd)"; fi
check_depends "$window_deb" "$root/usr/bin/tavrin"
grep -q '^libftdi1' "$work/depends" || fail "tavrin's Depends names no libftdi1: no real adapters"
grep -q '^libqt6widgets6' "$work/depends" || fail "tavrin's Depends names no libqt6widgets6"
dpkg-deb -f "$window_deb" Depends | tr ',' '\n' | grep -qxE "[[:space:]]*tavrin-play \(= $version\)" ||
  fail "tavrin does not depend on tavrin-play (= $version)"

echo "== dpkg --root $root --purge"
dpkg --root="$root" --force-depends --force-not-root --purge tavrin tavrin-play
left=$(find "$root" ! -type d ! -path "$root/var/lib/dpkg/*" | head -n 20)
[ -z "$left" ] || fail "files left after purging: $left"

echo "== lintian"
# lintian warns when it runs as root; that is its only remark about us.
lintian_status=0
lintian --display-info --fail-on error,warning "$player_deb" "$window_deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$work/lintian" || echo "(no remarks)"
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors (E:) or warnings (W:)"

if [ "$failures" -ne 0 ]; then
  echo "package.sh: $failures checks failed for $player_deb and $window_deb"
  exit 1
fi
echo "package.sh: $player_deb and $window_deb are built and checked"
