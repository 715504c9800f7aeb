#!/usr/bin/env bash
# Creates a throw-away certificate authority and a server certificate signed
# by it, for local HTTPS test servers.
#
#   make_test_ca.sh DIR [EXTRA_NAMES]
#
# Writes DIR/ca.pem, DIR/ca.key, DIR/server.pem and DIR/server.key. The server
# certificate names localhost, 127.0.0.1, velmora.app and www.velmora.app,
# plus EXTRA_NAMES (comma- or space-separated host names or IP addresses).
# Idempotent: an existing CA is kept, and an existing server certificate is
# kept when it was made for the same names. Concurrent runs on one DIR are
# serialised with a lock, so parallel test programs can share it.
set -euo pipefail

if [ $# -lt 1 ] || [ -z "$1" ]; then
  echo "usage: $0 DIR [EXTRA_NAMES]" >&2
  exit 2
fi
dir=$1
extra=${2:-}
mkdir -p "$dir"

exec 9>"$dir/.lock"
flock 9

names=(localhost 127.0.0.1 velmora.app www.velmora.app)
for name in ${extra//,/ }; do
  names+=("$name")
done

san=""
for name in "${names[@]}"; do
  if [[ $name =~ ^[0-9]+(\.[0-9]+){3}$ || $name == *:* ]]; then
    entry="IP:$name"
  else
    entry="DNS:$name"
  fi
  case ",$san," in *",$entry,"*) continue ;; esac
  san=${san:+$san,}$entry
done

work=$(mktemp -d "$dir/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ ! -s "$dir/ca.pem" ] || [ ! -s "$dir/ca.key" ]; then
  openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
    -keyout "$work/ca.key" -out "$work/ca.pem" -days 3650 -sha256 \
    -subj "/CN=Velmora Helper Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  mv -f "$work/ca.key" "$dir/ca.key"
  mv -f "$work/ca.pem" "$dir/ca.pem"
  # A new CA invalidates any server certificate signed by an old one.
  rm -f "$dir/server.pem" "$dir/server.key" "$dir/server.san"
fi

if [ -s "$dir/server.pem" ] && [ -s "$dir/server.key" ] &&
  [ "$(cat "$dir/server.san" 2>/dev/null)" = "$san" ]; then
  exit 0
fi

cat >"$work/server.ext" <<EOF
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$san
EOF
openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
  -keyout "$work/server.key" -out "$work/server.csr" -subj "/CN=localhost" 2>/dev/null
openssl x509 -req -in "$work/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
  -CAcreateserial -CAserial "$work/ca.srl" -days 3650 -sha256 \
  -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null
mv -f "$work/server.key" "$dir/server.key"
mv -f "$work/server.pem" "$dir/server.pem"
printf '%s\n' "$san" >"$dir/server.san"
