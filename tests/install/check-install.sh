#!/usr/bin/env bash
# check-install.sh CMAKE BUILD_DIR: installs BUILD_DIR with prefix /usr into a
# temporary DESTDIR and checks the installed tree: exactly the expected files,
# the program runnable, icons of the size their folder names, and the desktop
# entry and AppStream file accepted by their validators.
set -uo pipefail
cmake_bin=$1
build=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR=$dest "$cmake_bin" --install "$build" --prefix /usr >"$dest.log" 2>&1 || {
  cat "$dest.log"; rm -f "$dest.log"; echo "FAIL: cmake --install"; exit 1; }
rm -f "$dest.log"

sizes=(16 22 24 32 48 64 128 256)
expected=(usr/bin/zorv
          usr/share/applications/net.sourceforge.zorv.desktop
          usr/share/metainfo/net.sourceforge.zorv.metainfo.xml
          usr/share/icons/hicolor/scalable/apps/zorv.svg
          usr/share/man/man1/zorv.1.gz)
for s in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${s}x${s}/apps/zorv.png"); done

# Exactly these files, nothing more (no libraries, headers or test programs).
actual=$(cd "$dest" && find . -type f -o -type l | sed 's#^\./##' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$actual" != "$wanted" ]; then
  fail "installed files differ from the expected list"
  diff <(echo "$wanted") <(echo "$actual") | sed 's/^/  /'
fi

[ -x "$dest/usr/bin/zorv" ] || fail "usr/bin/zorv is not executable"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$dest/usr/bin/zorv" --version 2>&1)
[ "$version" = "Zorv 2.9.22R" ] || fail "zorv --version printed '$version'"

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for s in "${sizes[@]}"; do
  f="$dest/usr/share/icons/hicolor/${s}x${s}/apps/zorv.png"
  [ -f "$f" ] || continue
  dims=$(od -An -tu1 -j16 -N8 "$f" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${s}x${s}" ] || fail "icon in ${s}x${s} is $dims"
done

desktop="$dest/usr/share/applications/net.sourceforge.zorv.desktop"
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
for line in 'Exec=zorv %u' 'Icon=zorv' 'Categories=Network;Chat;IRCClient;' \
            'MimeType=x-scheme-handler/irc;x-scheme-handler/ircs;'; do
  grep -qxF "$line" "$desktop" || fail "desktop entry lacks '$line'"
done
out=$(appstreamcli validate --no-net "$dest/usr/share/metainfo/net.sourceforge.zorv.metainfo.xml" 2>&1) ||
  fail "appstreamcli validate: $out"
grep -q '<release version="2.9.22"' "$dest/usr/share/metainfo/net.sourceforge.zorv.metainfo.xml" ||
  fail "metainfo has no release 2.9.22"
gzip -t "$dest/usr/share/man/man1/zorv.1.gz" 2>/dev/null || fail "zorv.1.gz is not a gzip file"
zcat "$dest/usr/share/man/man1/zorv.1.gz" | grep -q '^\.TH ZORV 1' || fail "zorv.1.gz is not the zorv(1) page"

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "install layout OK: ${#expected[@]} files"
