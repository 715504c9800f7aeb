#!/bin/sh
# A sample skin engine for trying Velmora Helper without Orvane.
#
# Installed as ~/.orvane/orvane-theme-forge/scripts/customize-theme-macos.sh it
# takes the helper's ten arguments, keeps a copy of the image beside a small
# theme file under ~/.orvane/skins/current/, and records the call in
# ~/.orvane/orvane-theme-forge/last-call.txt (one argument a line).
set -eu

usage() {
  echo "usage: $0 --image FILE --name NAME --accent #rrggbb --secondary #rrggbb --highlight #rrggbb" >&2
  exit 64
}

forge="$HOME/.orvane/orvane-theme-forge"
mkdir -p "$forge"
: > "$forge/last-call.txt"
for argument in "$@"; do
  printf '%s\n' "$argument" >> "$forge/last-call.txt"
done

[ $# -eq 10 ] || usage
image= name= accent= secondary= highlight=
while [ $# -gt 0 ]; do
  case "$1" in
    --image) image=$2 ;;
    --name) name=$2 ;;
    --accent) accent=$2 ;;
    --secondary) secondary=$2 ;;
    --highlight) highlight=$2 ;;
    *) usage ;;
  esac
  shift 2
done

for colour in "$accent" "$secondary" "$highlight"; do
  case "$colour" in
    \#[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]) ;;
    *) echo "Not a colour: $colour" >&2; exit 65 ;;
  esac
done
[ -f "$image" ] || { echo "The skin image is not there: $image" >&2; exit 66; }

skin="$HOME/.orvane/skins/current"
mkdir -p "$skin"
extension=${image##*.}
cp "$image" "$skin/background.$extension"
cat > "$skin/theme.conf" <<THEME
name=$name
image=$skin/background.$extension
accent=$accent
secondary=$secondary
highlight=$highlight
THEME
echo "Applied $name: $skin/theme.conf"
