#!/usr/bin/env bash
# signed_setup_test.sh -- signs a package for real and installs it under Wine.
#
#   signed_setup_test.sh VELKOR WIN_BIN BENCH STATE SOURCE_DIR WORK_DIR SAMPLE_DIR [DEVICE_STUB]
#
# A certificate made here with openssl (nothing secret is kept), the sample
# CABs with no pages so that setup.exe installs at once, `velkor build
# --sign`, osslsigncode's own verdict, `velkor sign` with a PKCS#12 file and
# its password from the environment, a changed byte reported by `verify`,
# the same signing on the device program (when it was built), and the
# signed setup.exe run through a whole installation.
set -euo pipefail
[ $# -eq 7 ] || [ $# -eq 8 ] || { echo "usage: $0 VELKOR WIN_BIN BENCH STATE SOURCE_DIR WORK_DIR SAMPLE_DIR [DEVICE_STUB]" >&2; exit 2; }
velkor=$1 winbin=$2 bench=$3 state=$4 src=$5 work=$6 sample=$7 device=${8:-}

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { printf '== %s\n' "$*"; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"

step "a throw-away certificate"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Velkor Test Signer/O=Velkor Tests" 2>/dev/null
openssl pkcs12 -export -in cert.pem -inkey key.pem -passout pass:p12-secret -out signer.p12

step "the sample, installing at once"
[ -f "$sample/manifest.toml" ] || fail "no sample in $sample (samples/make-sample-cabs.sh makes it)"
cp -r "$sample" sample
sed 's/^pages = .*/pages = []/' sample/manifest.toml >sample/signed.toml

step "velkor build --sign"
"$velkor" build sample/signed.toml --stub "$winbin/setup.exe" --desktop-stub -o setup-signed.exe \
    --sign cert.pem --key key.pem 2>/dev/null
"$velkor" build sample/signed.toml --stub "$winbin/setup.exe" --desktop-stub -o setup-plain.exe 2>/dev/null
[ -z "$(ls | grep -F .tmp-)" ] || fail "temporary files left: $(ls)"
osslsigncode verify -in setup-signed.exe -CAfile cert.pem >osslsigncode.log 2>&1 ||
    fail "osslsigncode does not accept the signature: $(tail -n 3 osslsigncode.log)"
out=$("$velkor" verify setup-signed.exe --require-signature)
echo "$out"
[[ $out == *"signed by /CN=Velkor Test Signer/O=Velkor Tests; the signature matches the file"* ]] ||
    fail "verify does not name the signer"
json=$("$velkor" list setup-signed.exe --json)
grep -q '"matches": true' <<<"$json" || fail "list --json: no matching signature"
cmp -s <(head -c "$(stat -c %s setup-plain.exe)" setup-signed.exe | tail -c 64) <(tail -c 64 setup-plain.exe) ||
    fail "the signed file does not carry the package where the unsigned one ends"

step "unsigned and broken signatures"
if "$velkor" verify setup-plain.exe --require-signature 2>err.txt; then fail "unsigned file passed --require-signature"; fi
grep -q "not signed" err.txt || fail "unsigned: $(cat err.txt)"
# A byte of the setup program's image: the package still reads, the signature no longer matches.
cp setup-signed.exe changed.exe
printf '\x55' | dd of=changed.exe bs=1 seek=4000 conv=notrunc status=none
set +e
"$velkor" verify changed.exe 2>err.txt; rc=$?
set -e
[ $rc -eq 13 ] || fail "a changed image byte: exit $rc, $(cat err.txt)"
grep -q "does not match" err.txt || fail "changed: $(cat err.txt)"
# A byte of the package itself.
cp setup-signed.exe changed2.exe
at=$(( $(stat -c %s setup-plain.exe) - 200 ))
printf '\xA5' | dd of=changed2.exe bs=1 seek=$at conv=notrunc status=none
if "$velkor" verify changed2.exe 2>err.txt; then fail "a changed package byte passed verify"; fi
echo "changed package byte: $(cat err.txt)"

step "velkor sign with a PKCS#12 file, the password from the environment"
cp setup-plain.exe resigned.exe
VELKOR_TEST_PASSWORD=p12-secret "$velkor" sign resigned.exe --pkcs12 signer.p12 --password-env VELKOR_TEST_PASSWORD
osslsigncode verify -in resigned.exe -CAfile cert.pem >/dev/null 2>&1 || fail "osslsigncode refuses the re-signed file"
printf 'wrong\n' >wrong.txt
if "$velkor" sign setup-plain.exe --pkcs12 signer.p12 --password-file wrong.txt -o never.exe 2>err.txt; then
    fail "a wrong password signed"
fi
[ ! -e never.exe ] && [ -z "$(ls | grep -F .tmp-)" ] || fail "a failed signing left files: $(ls)"

if [ -f "$device" ]; then
    step "the device program, signed the same way"
    "$velkor" build sample/signed.toml --stub "$device" -o arm-signed.exe --sign cert.pem --key key.pem 2>/dev/null
    "$velkor" build sample/signed.toml --stub "$device" -o arm-plain.exe 2>/dev/null
    osslsigncode verify -in arm-signed.exe -CAfile cert.pem >osslsigncode.log 2>&1 ||
        fail "osslsigncode does not accept the signed device program: $(tail -n 3 osslsigncode.log)"
    # verify runs the setup program's own loader: it finds the package before the certificate table.
    out=$("$velkor" verify arm-signed.exe --require-signature)
    [[ $out == *"the setup program's loader accepts it; signed by /CN=Velkor Test Signer"* ]] || fail "verify: $out"
    out=$("$velkor" list arm-signed.exe)
    [[ $out == *"setup program  at 0, $(stat -c %s "$device") bytes, an ARM (0x01C0) Windows CE GUI"* ]] ||
        fail "list does not show the device program"
    cmp -s <(head -c "$(stat -c %s arm-plain.exe)" arm-signed.exe | tail -c 64) <(tail -c 64 arm-plain.exe) ||
        fail "the signed device file does not carry the package where the unsigned one ends"
    VELKOR_TEST_PASSWORD=p12-secret "$velkor" sign arm-plain.exe -o arm-resigned.exe --pkcs12 signer.p12 \
        --password-env VELKOR_TEST_PASSWORD
    osslsigncode verify -in arm-resigned.exe -CAfile cert.pem >/dev/null 2>&1 || fail "osslsigncode refuses the re-signed device file"
    "$velkor" verify arm-resigned.exe --require-signature >/dev/null
fi

step "the signed setup program installs under Wine"
"$bench" run "$state" signed_setup "$winbin" -- "Z:${work//\//\\}\\setup-signed.exe"
root=$state/roots/signed_setup
log=$root/windows/wceload.log
[ -f "$log" ] || fail "the installer never ran"
cat "$log" | tr '\t' ' '
[ "$(grep -c $'\texit=0' "$log")" -eq 2 ] || fail "expected two components installed"
[ ! -e "$root/kCABFILE.cab" ] || fail "kCABFILE.cab left behind"
find "$root/Program Files" -type f | sed "s|$root||"
[ -n "$(find "$root/Program Files" -type f)" ] || fail "nothing was installed"
echo "PASS"
