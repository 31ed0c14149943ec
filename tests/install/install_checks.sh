#!/usr/bin/env bash
# The programs as a user meets them: man pages that list the options --help lists, the tree
# `cmake --install` writes and what runs from it, and the Debian package.
# Usage: install_checks.sh CHECK SOURCE_DIR BUILD_DIR; exit 77 means skipped.
set -euo pipefail
check=$1 src=$2 build=$3
cmake=${CMAKE_COMMAND:-cmake} cpack=${CPACK_COMMAND:-cpack}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || { echo "SKIP: $1 is not installed"; exit 77; }; }
have_gui() { [ -x "$build/src/mailvane-gui" ]; }

# The option names in the first column of --help's option lines, one a line.
help_options() {
  "$build/src/$1" --help | sed -n 's/^ *\(-.*\)$/\1/p' | sed 's/  .*//' |
    tr ', ' '\n\n' | sed -n 's/^\(--\?[A-Za-z0-9][A-Za-z0-9-]*\).*/\1/p' | sort -u
}
# The option names of the man page's OPTIONS items, one a line.
man_options() {
  sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$src/docs/man/$1.1" | sed -n '/^\.TP/{n;p}' |
    sed 's/\\-/-/g' | grep -o -- '--\?[A-Za-z0-9][A-Za-z0-9-]*' | sort -u
}

# Every file an install holds below its prefix, one a line.
expected_files() {
  printf '%s\n' bin/mailvane bin/mailvane-pstcheck \
    share/man/man1/mailvane.1 share/man/man1/mailvane-pstcheck.1
  if have_gui; then
    printf '%s\n' bin/mailvane-gui share/man/man1/mailvane-gui.1 share/mailvane/guide.html \
      share/applications/mailvane.desktop \
      share/icons/hicolor/64x64/apps/mailvane.png share/icons/hicolor/256x256/apps/mailvane.png
  fi
}
same_files() {  # $1: what was found, one a line
  diff <(expected_files | sort) <(sort <<<"$1") >&2 || fail "the files differ (< expected, > found)"
}

case $check in
man_pages)
  need groff
  for program in mailvane mailvane-pstcheck; do
    diff <(help_options "$program") <(man_options "$program") >&2 ||
      fail "$program: options of --help (<) and of docs/man/$program.1 (>) differ"
  done
  for page in "$src"/docs/man/*.1; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
  ;;

installed_tree)
  need man
  DESTDIR="$scratch/root" "$cmake" --install "$build" --prefix /usr >/dev/null
  usr=$scratch/root/usr
  same_files "$(cd "$usr" && find . -type f | sed 's|^\./||')"
  "$usr/bin/mailvane" --help | grep -q '^Usage: mailvane ' || fail "installed mailvane --help"
  status=0
  "$usr/bin/mailvane" "$src/examples/zimbra-export" "$scratch/out" >"$scratch/run.txt" 2>&1 ||
    status=$?
  [ "$status" = 0 ] || { cat "$scratch/run.txt" >&2; fail "installed mailvane exit $status"; }
  pst=$(find "$scratch/out" -name '*.pst')
  [ -f "${pst%.pst}.log" ] || fail "no report beside $pst"
  "$usr/bin/mailvane-pstcheck" --tree "$pst" | grep -q ' 0 error(s)' || fail "pstcheck of $pst"
  for page in mailvane mailvane-pstcheck; do
    MANPATH="$usr/share/man" MANWIDTH=80 man -P cat "$page" 2>/dev/null | grep -q '^EXIT STATUS' ||
      fail "man $page from the installed tree"
  done
  if have_gui; then
    need desktop-file-validate
    entry=$usr/share/applications/mailvane.desktop
    desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
    grep -qx 'Name=Larkwell Mailvane' "$entry" || fail "menu name"
    [ -x "$usr/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")" ] || fail "Exec names no installed program"
    [ -f "$usr/share/icons/hicolor/64x64/apps/$(sed -n 's/^Icon=//p' "$entry").png" ] ||
      fail "Icon names no installed icon"
    # The installed window starts and waits for the user (timeout ends it: 124).
    status=0
    QT_QPA_PLATFORM=offscreen timeout 2 "$usr/bin/mailvane-gui" 2>"$scratch/gui.txt" || status=$?
    [ "$status" = 124 ] || { cat "$scratch/gui.txt" >&2; fail "installed mailvane-gui exit $status"; }
  fi
  ;;

debian_package)
  need dpkg-deb
  need dpkg-shlibdeps
  "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.txt" 2>&1 ||
    { cat "$scratch/cpack.txt" >&2; fail "cpack"; }
  deb=$(echo "$scratch"/mailvane_*.deb)
  [ -f "$deb" ] || fail "no mailvane_*.deb in $(ls "$scratch")"
  same_files "$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||')"
  info=$(dpkg-deb --info "$deb")
  field() { sed -n "s/^ $1: //p" <<<"$info"; }
  [ "$(field Package)" = mailvane ] || fail "Package: $(field Package)"
  version=$("$build/src/mailvane" --version | sed -n '1s/.* //p')
  [[ "$(field Version)" == "$version"* ]] || fail "Version $(field Version) is not mailvane's $version"
  address=$(field Maintainer | sed -n 's/.*<\(.*\)>$/\1/p')
  [ -n "$address" ] && "$build/src/mailvane" --help | grep -qF "<$address>" ||
    fail "Maintainer $(field Maintainer) has not the bug address of mailvane --help"
  depends=$(field Depends)
  wanted=(libc6 libgmime-3.0-0 libarchive13 libstdc++6)
  have_gui && wanted+=(libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins)
  for package in "${wanted[@]}"; do
    tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | grep -qxF "$package" ||
      fail "Depends lacks $package: $depends"
  done
  ;;

*) fail "unknown check $check" ;;
esac
echo "ok: $check"
