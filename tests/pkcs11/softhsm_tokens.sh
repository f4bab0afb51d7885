#!/usr/bin/env bash
# Makes the tests' SoftHSM2 tokens in DIR, with its own SOFTHSM2_CONF (the
# line to export is printed): two tokens share the key name "twin".
set -euo pipefail
dir=${1:?directory}
module=${SOFTHSM2_MODULE:-/usr/lib/softhsm/libsofthsm2.so}
mkdir -p "$dir/tokens"
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$dir" \
  > "$dir/softhsm2.conf"
export SOFTHSM2_CONF=$dir/softhsm2.conf

add_key() {  # token pin label id cert|nocert openssl-key-options...
  openssl req -x509 "${@:6}" -nodes -subj "/CN=$3/O=Token $1" -days 30 -keyout "$dir/$3.key.pem" \
    -out "$dir/$3.cert.pem" 2>/dev/null
  openssl x509 -in "$dir/$3.cert.pem" -outform DER -out "$dir/$3.cert.der"
  softhsm2-util --import "$dir/$3.key.pem" --token "$1" --pin "$2" --label "$3" --id "$4" >/dev/null
  [[ $5 == nocert ]] ||
    pkcs11-tool --module "$module" --token-label "$1" --login --pin "$2" --write-object \
      "$dir/$3.cert.der" --type cert --label "$3" --id "$4" >/dev/null 2>&1
}

softhsm2-util --init-token --free --label T1 --so-pin 87654321 --pin 1234 >/dev/null
softhsm2-util --init-token --free --label T2 --so-pin 87654321 --pin 5678 >/dev/null
ec=(-newkey ec -pkeyopt ec_paramgen_curve:P-256)
add_key T1 1234 ec 01 cert "${ec[@]}"
add_key T1 1234 rsa 02 cert -newkey rsa:2048
add_key T1 1234 nocert 03 nocert "${ec[@]}"
add_key T1 1234 twin 04 cert "${ec[@]}"
add_key T2 5678 twin 01 cert "${ec[@]}"
echo "SOFTHSM2_CONF=$SOFTHSM2_CONF"
