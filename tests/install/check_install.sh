#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Installs the build into a fresh prefix with `cmake --install` and checks the
# result: every expected file is there and nothing else, the programs run from
# there and play an installed example on an installed board file, the man
# pages are sound gzip files, the desktop entry is valid, and Release builds
# install stripped programs. Then each install component alone (one Debian
# package each) into a folder of its own: its files, and nothing else.
#
#   check_install.sh BUILD_DIR PREFIX CONFIG VERSION COMPONENT:FILE...
#
# FILE: every file expected under PREFIX, relative to it; COMPONENT: the
# install component it belongs to.
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
# folder's install_manifest.txt (install_manifest_COMPONENT.txt for one
# component), which names what a real installation put in place and is what
# uninstalling goes by: keep the real ones.
mkdir -p "$work/manifests"
for m in "$build"/install_manifest*.txt; do
  [ -f "$m" ] && cp -p "$m" "$work/manifests/"
done
# install_into TO [COMPONENT]: gives 0 when the installation went through.
install_into() {
  cmake --install "$build" --prefix "$1" --config "$config" ${2:+--component "$2"} >"$work/install.log" 2>&1
  status=$?
  rm -f "$build"/install_manifest*.txt
  for m in "$work"/manifests/*; do
    [ -f "$m" ] && cp -p "$m" "$build/"
  done
  if [ "$status" -ne 0 ]; then
    cat "$work/install.log"
    echo "FAIL: cmake --install ${2:+--component $2 }ended with status $status"
    return 1
  fi
}
# check_tree ROOT LIST: every file of LIST is under ROOT, and nothing else.
check_tree() {
  while IFS= read -r f; do
    [ -f "$1/$f" ] || fail "not installed${3:+ by component $3}: $f"
  done <"$2"
  (cd "$1" && find . ! -type d | sed 's|^\./||' | sort) >"$work/installed"
  sort "$2" | comm -13 - "$work/installed" >"$work/extra"
  while IFS= read -r f; do
    fail "installed but not expected${3:+ in component $3}: $f"
  done <"$work/extra"
}

install_into "$prefix" || exit 1
components=""
: >"$work/expected"
for entry in "$@"; do
  component=${entry%%:*}
  printf '%s\n' "${entry#*:}" >>"$work/expected"
  printf '%s\n' "${entry#*:}" >>"$work/component-$component"
  case " $components " in
    *" $component "*) ;;
    *) components="$components $component" ;;
  esac
done
check_tree "$prefix" "$work/expected"
for component in $components; do
  install_into "$work/$component" "$component" || { failures=$((failures + 1)); continue; }
  check_tree "$work/$component" "$work/component-$component" "$component"
done
# The player's component links no Qt: a machine without a desktop can have it.
if [ -f "$work/player/bin/tavrin-play" ] && readelf -d "$work/player/bin/tavrin-play" | grep -q 'NEEDED.*libQt'; then
  fail "bin/tavrin-play needs a Qt library"
fi

# Programs: executable, stripped in Release builds.
for entry in "$@"; do
  f=${entry#*:}
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
echo "installed and checked: $# files under $prefix, and the components$components alone"
