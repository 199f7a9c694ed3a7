#!/bin/sh
# The installer under wine, as a user or an administrator's script runs it:
# a silent install (/S) puts both programs, the README and the licence in
# the user's programs folder, a Start-menu entry and an entry in Apps &
# features; the installed corvella-cli.exe runs; the silent uninstall
# takes all of it away again, and nothing else.
#   installer_test.sh SETUP.exe
set -eu
setup=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
: "${WINEPREFIX:?set WINEPREFIX to the build's wine folder}"
export WINEPREFIX WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvella'
unix() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')"; }
folder=$(unix LOCALAPPDATA)/Programs/Corvella
menu=$(unix APPDATA)/Microsoft/Windows/Start\ Menu/Programs
fail() { echo "$*"; exit 1; }

wine "$setup" /S
for file in corvella.exe corvella-cli.exe README.md LICENSE.txt uninstall.exe; do
  [ -f "$folder/$file" ] || fail "not installed: $folder/$file"
done
[ -f "$menu/Corvella.lnk" ] || fail "no Start-menu entry in $menu"
wine reg query "$key" /v DisplayName 2>/dev/null | grep -q Corvella || fail "not in Apps & features"
wine reg query "$key" /v QuietUninstallString 2>/dev/null | grep -q '/S' || fail "no silent uninstall registered"
version=$(wine "$folder/corvella-cli.exe" --version | tr -d '\r')
case $version in *1.07*) ;; *) fail "the installed corvella-cli.exe says '$version'" ;; esac
# A file of the user's own in the folder is left where it is.
echo mine > "$folder/notes.txt"

# The uninstaller runs a copy of itself and returns at once: wait for it.
wine "$folder/uninstall.exe" /S
for _ in $(seq 150); do [ -f "$folder/corvella.exe" ] || break; sleep 0.2; done
sleep 1
for file in corvella.exe corvella-cli.exe README.md LICENSE.txt uninstall.exe; do
  [ ! -e "$folder/$file" ] || fail "left behind: $folder/$file"
done
[ ! -e "$menu/Corvella.lnk" ] || fail "the Start-menu entry is left"
! wine reg query "$key" >/dev/null 2>&1 || fail "still in Apps & features"
[ "$(cat "$folder/notes.txt")" = mine ] || fail "the user's own file was removed"
rm -rf "$folder"
echo "installed silently, $version ran, uninstalled silently: nothing left but the user's own file"
