#!/bin/bash
# Builds the distribution folder build/dist/Vivra36 and its archive
# build/dist/Vivra36.zip: the saver as Setup.EXE, the uninstaller, the help
# file and its HTML pages, the import filter, the texts and the sample
# displays.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build"

out="$build/dist/Vivra36"
rm -rf "$out" "$build/dist/Vivra36.zip"
mkdir -p "$out"
missing=()
take() {   # take SOURCE NAME
    if [ -f "$1" ]; then cp "$1" "$out/$2"; else missing+=("$2"); fi
}
take "$build/Vivra.scr" Setup.EXE
take "$build/UnInstall.EXE" UnInstall.EXE
take "$build/VRNXSLX.HLP" VRNXSLX.HLP
take "$build/VIVIMP32.FLT" VIVIMP32.FLT
for f in ReadMe.TXT License.TXT File_ID.DIZ Slogan.TXT; do take "$root/dist/$f" "$f"; done
cp "$root"/dist/displays/*.VIV "$out/"
# The help as HTML pages, for Windows without WinHelp; setup copies the
# folder into the destination.
mkdir -p "$out/Help"
take "$build/Help/keywords.txt" Help/keywords.txt
for page in "$build"/Help/*.htm; do take "$page" "Help/$(basename "$page")"; done
if [ ${#missing[@]} -ne 0 ]; then
    echo "dist: missing ${missing[*]}" >&2
    exit 1
fi
(cd "$build/dist" && cmake -E tar cf Vivra36.zip --format=zip Vivra36)
ls -l "$out" "$build/dist/Vivra36.zip"
