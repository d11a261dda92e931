#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Installs the build into a fresh prefix with `cmake --install` and checks the
# result: every expected file is there and nothing else, the programs run from
# there and play an installed example on an installed board file, the man
# pages are sound gzip files, the desktop entry is valid, and Release builds
# install stripped programs.
#
#   check_install.sh BUILD_DIR PREFIX CONFIG VERSION FILE...
#
# FILE: every file expected under PREFIX, relative to it.
set -u
build=$1 prefix=$2 config=$3 version=$4
shift 4

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

rm -rf "$prefix"
mkdir -p "$prefix" || exit 1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# `cmake --install` writes the list of what it installed to the build
# folder's install_manifest.txt, which names what a real installation put in
# place and is what uninstalling goes by: keep the real one.
manifest="$build/install_manifest.txt"
[ -f "$manifest" ] && cp -p "$manifest" "$work/manifest"
cmake --install "$build" --prefix "$prefix" --config "$config" >"$work/install.log" 2>&1
status=$?
if [ -f "$work/manifest" ]; then
  cp -p "$work/manifest" "$manifest"
else
  rm -f "$manifest"
fi
if [ "$status" -ne 0 ]; then
  cat "$work/install.log"
  echo "FAIL: cmake --install ended with status $status"
  exit 1
fi

# Every expected file, and nothing else.
: >"$work/expected"
for f in "$@"; do
  printf '%s\n' "$f" >>"$work/expected"
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
(cd "$prefix" && find . ! -type d | sed 's|^\./||') >"$work/installed"
sort -o "$work/expected" "$work/expected"
sort -o "$work/installed" "$work/installed"
comm -13 "$work/expected" "$work/installed" >"$work/extra"
while IFS= read -r f; do
  fail "installed but not expected: $f"
done <"$work/extra"

# Programs: executable, stripped in Release builds.
for f in "$@"; do
  case $f in
    bin/*)
      [ -x "$prefix/$f" ] || fail "not executable: $f"
      case $config in
        Release | MinSizeRel)
          if readelf -S "$prefix/$f" | grep -qE '\.symtab|\.comment'; then
            fail "not stripped in a $config build: $f"
          fi
          ;;
      esac
      ;;
    *.gz)
      gzip -t "$prefix/$f" 2>/dev/null || fail "not a sound gzip file: $f"
      ;;
    *.desktop)
      if command -v desktop-file-validate >/dev/null 2>&1; then
        out=$(desktop-file-validate "$prefix/$f" 2>&1) || fail "desktop-file-validate $f: $out"
        [ -z "$out" ] || fail "desktop-file-validate $f: $out"
      fi
      grep -q '^Exec=tavrin %f$' "$prefix/$f" || fail "$f does not start tavrin with the file it is given"
      grep -q '^Icon=tavrin$' "$prefix/$f" || fail "$f does not name the icon tavrin"
      # The file type it opens is the one the MIME package declares.
      mime="$prefix/$(dirname "$(dirname "$f")")/mime/packages/tavrin.xml"
      grep -q '^MimeType=text/x-svf;$' "$prefix/$f" || fail "$f opens no .svf files"
      grep -q '<mime-type type="text/x-svf">' "$mime" || fail "$mime does not declare text/x-svf"
      grep -q '<glob pattern="\*.svf"/>' "$mime" || fail "$mime does not match *.svf"
      ;;
  esac
done

# The installed player runs, and plays the installed example on the
# installed description of the built-in board.
player="$prefix/bin/tavrin-play"
if [ -x "$player" ]; then
  out=$("$player" --version 2>&1)
  [ "$out" = "tavrin-play $version" ] || fail "tavrin-play --version printed '$out', not 'tavrin-play $version'"
  examples="$prefix/share/tavrin/examples"
  "$player" --board "$examples/boards/default.json" "$examples/idcode.svf" >"$work/play.out" 2>"$work/play.err"
  status=$?
  # The file's three checks: IR capture, IDCODE, the SCRATCH register.
  passed=$(grep -c 'Pass!$' "$work/play.out")
  if [ "$status" -ne 0 ] || [ "$passed" -ne 3 ]; then
    cat "$work/play.out" "$work/play.err"
    fail "the installed tavrin-play played the installed idcode.svf with status $status and $passed checks passed, not 0 and 3"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failures; the installation is in $prefix"
  exit 1
fi
echo "installed and checked: $# files under $prefix"
