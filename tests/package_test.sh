#!/bin/bash
# The Debian package as a user gets it: built by CPack from the build
# folder, unpacked into a throw-away root, its files, menu entry and
# metainfo checked, its command line run, and lintian without errors.
#   tests/package_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/corvella_*_amd64.deb 2> /dev/null || ls "$work"/out/corvella_*.deb)
version=$(sed -n 's/^project(Corvella VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
[[ $(basename "$deb") == corvella_${version}-1_*.deb ]] || fail "package name $(basename "$deb")"

# The control fields: section, a real description, dependencies found by
# dpkg-shlibdeps (the window's Qt, libsndfile), not typed by hand.
[[ $(dpkg-deb -f "$deb" Section) == sound ]] || fail "section"
[[ $(dpkg-deb -f "$deb" Description | wc -l) -ge 5 ]] || fail "description"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libsndfile1; do
  [[ $depends == *"$library ("* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
for file in usr/bin/corvella usr/bin/corvella-cli \
  usr/share/applications/org.corvella.Corvella.desktop \
  usr/share/metainfo/org.corvella.Corvella.metainfo.xml \
  usr/share/man/man1/corvella.1.gz usr/share/man/man1/corvella-cli.1.gz \
  usr/share/doc/corvella/README.md usr/share/doc/corvella/copyright \
  usr/share/doc/corvella/changelog.Debian.gz usr/share/icons/hicolor/scalable/apps/corvella.svg; do
  [[ -s $root/$file ]] || fail "missing $file"
done
[[ -x $root/usr/bin/corvella && -x $root/usr/bin/corvella-cli ]] || fail "programs not executable"
# Icons at their sizes: a PNG's width and height stand in its IHDR chunk.
for size in 32 48 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/corvella.png
  [[ -s $png ]] || fail "missing $size px icon"
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4, $7 * 256 + $8 }')
  [[ $w == "$size" && $h == "$size" ]] || fail "$size px icon is $w x $h"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/corvella.svg" || fail "svg icon"
# The manual pages are gzip'd and whole.
for page in corvella corvella-cli; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH ${page^^} 1" || fail "man page $page"
done

desktop-file-validate "$root/usr/share/applications/org.corvella.Corvella.desktop" || fail "desktop entry"
grep -qx 'Exec=corvella' "$root/usr/share/applications/org.corvella.Corvella.desktop" || fail "Exec"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.corvella.Corvella.metainfo.xml" || fail "metainfo"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.corvella.Corvella.metainfo.xml" ||
  fail "metainfo release is not $version"

# Shell completion where bash, zsh and fish look for it; bash's completes a
# command from the installed file.
for file in usr/share/bash-completion/completions/corvella-cli \
  usr/share/zsh/vendor-completions/_corvella-cli \
  usr/share/fish/vendor_completions.d/corvella-cli.fish; do
  [[ -s $root/$file ]] || fail "missing $file"
done
completed=$(bash -c 'source "$1"; COMP_WORDS=(corvella-cli spl); COMP_CWORD=1; _corvella_cli; echo "${COMPREPLY[*]}"' \
  _ "$root/usr/share/bash-completion/completions/corvella-cli")
[[ $completed == split ]] || fail "bash completion gives '$completed' for spl"

# The installed command line runs and knows its version.
[[ $("$root/usr/bin/corvella-cli" --version) == "corvella-cli $version" ]] || fail "corvella-cli --version"

# lintian: no errors. The warnings left are in the README.
lintian --fail-on error "$deb" 2> /dev/null || fail "lintian errors"
echo "package $(basename "$deb") checked"
