#!/usr/bin/env bash
# scripts/local-ca in a scratch folder: what it makes, that its authority vouches for this
# machine alone, when it replaces an authority, and the browser's copy.
#   local_ca_test.sh LOCAL_CA_SCRIPT
set -euo pipefail
script=$1
work=$(mktemp -d /tmp/tallyforge-local-ca.XXXXXX)
trap 'rm -rf "$work"' EXIT
data=$work/data
export TALLYFORGE_DATA_DIR=$data HOME=$work/home
mkdir -p "$HOME"
umask 022
status=0
fail() { echo "FAIL: $*"; status=1; }
local_ca() { bash "$script" "$@" >/dev/null; }
fingerprint() { openssl x509 -in "$1" -noout -fingerprint -sha256 | cut -d= -f2; }
mode() { stat -c %a "$1"; }
seconds() { date -d "$(openssl x509 -in "$1" -noout "-$2" | cut -d= -f2)" +%s; }

# A certificate for one subjectAltName, from the data folder's authority.
issue() {  # NAME SAN
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$1" -keyout "$work/$1.key" -out "$work/$1.csr" 2>/dev/null
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$2" > "$work/$1.ext"
  openssl x509 -req -in "$work/$1.csr" -CA "$data/ca.pem" -CAkey "$data/ca.key" -CAserial "$work/serial" \
    -CAcreateserial -days 1 -extfile "$work/$1.ext" -out "$work/$1.pem" 2>/dev/null
}

# The authority as earlier versions of the script made it: ten years, no constraints.
old_authority() {
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=Tallyforge local CA" \
    -keyout "$data/ca.key" -out "$data/ca.pem" 2>/dev/null
}

local_ca
[ "$(mode "$data")" = 700 ] || fail "data folder is $(mode "$data"), not 700"
for f in ca.key server.key; do [ "$(mode "$data/$f")" = 600 ] || fail "$f is $(mode "$data/$f"), not 600"; done
text=$(openssl x509 -in "$data/ca.pem" -noout -text)
for want in "X509v3 Basic Constraints: critical" "CA:TRUE, pathlen:0" "X509v3 Key Usage: critical" \
            "Certificate Sign, CRL Sign" "X509v3 Name Constraints: critical" "DNS:localhost" \
            "IP:127.0.0.1/255.255.255.255" "IP:0:0:0:0:0:0:0:1/FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF"; do
  grep -qF "$want" <<< "$text" || fail "the authority lacks '$want'"
done
life=$(( $(seconds "$data/ca.pem" enddate) - $(seconds "$data/ca.pem" startdate) ))
[ "$life" -le $((90 * 86400)) ] || fail "the authority lives $life s, more than 90 days"
[ "$(seconds "$data/server.pem" enddate)" -le "$(seconds "$data/ca.pem" enddate)" ] ||
  fail "the server certificate outlives its authority"
openssl verify -CAfile "$data/ca.pem" "$data/server.pem" >/dev/null || fail "the server certificate does not verify"

# The constraints bite: names outside this machine fail, this machine's pass.
for c in "localhost DNS:localhost ok" "loopback IP:127.0.0.1 ok" "loopback6 IP:::1 ok" \
         "evil.example DNS:evil.example refused" "evil-localhost DNS:localhost.evil.example refused" \
         "lan IP:192.168.1.1 refused"; do
  read -r name san want <<< "$c"
  issue "$name" "$san"
  if out=$(openssl verify -CAfile "$data/ca.pem" "$work/$name.pem" 2>&1); then got=ok; else got=refused; fi
  [ "$got" = "$want" ] || fail "$san: $got, expected $want: $out"
  if [ "$want" = refused ] && ! grep -q "permitted subtree violation" <<< "$out"; then
    fail "$san refused for another reason: $out"
  fi
done

# Reused while current; the keys stay private even if someone loosened them.
ca=$(fingerprint "$data/ca.pem") server=$(fingerprint "$data/server.pem")
chmod 755 "$data"; chmod 644 "$data/ca.key" "$data/server.key"
local_ca
[ "$(fingerprint "$data/ca.pem")" = "$ca" ] || fail "a current authority was replaced"
[ "$(fingerprint "$data/server.pem")" = "$server" ] || fail "a current server certificate was replaced"
[ "$(mode "$data")" = 700 ] || fail "a loosened data folder stays $(mode "$data")"
for f in ca.key server.key; do [ "$(mode "$data/$f")" = 600 ] || fail "a loosened $f stays $(mode "$data/$f")"; done

# Replaced: an authority without constraints, and one that ends within two weeks; the
# server certificate is issued anew by the new authority.
replaced() {  # WHAT
  [ "$(fingerprint "$data/ca.pem")" != "$1" ] || fail "$2: the authority was kept"
  openssl x509 -in "$data/ca.pem" -noout -text | grep -q "X509v3 Name Constraints: critical" ||
    fail "$2: the new authority has no name constraints"
  openssl verify -CAfile "$data/ca.pem" "$data/server.pem" >/dev/null || fail "$2: the server certificate was not re-issued"
}
old_authority
old=$(fingerprint "$data/ca.pem")
local_ca
replaced "$old" "unconstrained authority"
openssl req -x509 -newkey rsa:2048 -nodes -days 10 -subj "/CN=Tallyforge local CA" \
  -addext "basicConstraints=critical,CA:true,pathlen:0" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "nameConstraints=critical,permitted;DNS:localhost" -keyout "$data/ca.key" -out "$data/ca.pem" 2>/dev/null
old=$(fingerprint "$data/ca.pem")
local_ca
replaced "$old" "authority ending in 10 days"

# The browser's copy follows a replaced authority, and only the current one stays.
if command -v certutil >/dev/null; then
  nss="sql:$HOME/.pki/nssdb"
  in_browser() { certutil -d "$nss" -L | grep -c "^Tallyforge local CA " || true; }
  browser_fingerprint() { certutil -d "$nss" -L -n "Tallyforge local CA" -a | openssl x509 -noout -fingerprint -sha256 | cut -d= -f2; }
  local_ca --browser
  [ "$(mode "$HOME/.pki/nssdb")" = 700 ] || fail "the NSS folder is $(mode "$HOME/.pki/nssdb"), not 700"
  [ "$(browser_fingerprint)" = "$(fingerprint "$data/ca.pem")" ] || fail "the browser does not hold the authority"
  old_authority
  certutil -d "$nss" -A -t "C,," -n "Tallyforge local CA" -i "$data/ca.pem"  # a second, older one
  local_ca --browser
  [ "$(in_browser)" = 1 ] || fail "the browser holds $(in_browser) authorities of the name"
  [ "$(browser_fingerprint)" = "$(fingerprint "$data/ca.pem")" ] || fail "the browser kept the old authority"
else
  echo "certutil is missing: the browser part is not checked"
  status=1
fi
[ "$status" = 0 ] && echo "local-ca: all checks passed"
exit $status
