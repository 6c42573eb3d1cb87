#!/usr/bin/env bash
# make-sample-cabs.sh OUTDIR -- makes the CAB files of the Pocket Notes sample
# in OUTDIR/cabs and copies the sample's manifest and license next to them,
# so that this works:
#
#   samples/make-sample-cabs.sh OUT
#   velkor build OUT/manifest.toml --stub setup.exe -o OUT/pocketnotes-setup.exe
#
# The CABs are laid out as device CABs are: members named NAME.NNN, where
# NNN is the file number, and NAME.000 the setup information that says
# where each file goes.  All content is generated, and the same every run
# (fixed file times, a fixed pseudo-random sequence), so the package is too.
# Needs bash, awk and gcab.
set -euo pipefail

if [[ $# -ne 1 || $1 == -* ]]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
command -v gcab >/dev/null || { echo "$0: gcab is not installed" >&2; exit 3; }

here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out/cabs"
out=$(cd "$out" && pwd)   # gcab runs inside the stage folder
work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT
export LC_ALL=C TZ=UTC

# --- little-endian fields for the setup information ----------------------
u16() {
    local bytes
    printf -v bytes '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255))
    printf "$bytes"
}
u32() { u16 $(($1 & 65535)); u16 $((($1 >> 16) & 65535)); }
cstr() { printf '%s\0' "$1"; }

# setup_info FILE APPNAME SUBFOLDER TARGET...
#   Writes a setup-information file that installs TARGET 1, 2, ... (file
#   numbers 001, 002, ...) into %CE1%\Pocket Notes[\SUBFOLDER], or into
#   %CE5%\SUBFOLDER (My Documents) when SUBFOLDER starts with "docs:".
setup_info() {
    local file=$1 app=$2 sub=$3
    shift 3
    local provider="Velkor Samples"
    local -a strings dirids
    if [[ $sub == docs:* ]]; then
        strings=("%CE5%" "${sub#docs:}")
    elif [[ -n $sub ]]; then
        strings=("%CE1%" "Pocket Notes" "$sub")
    else
        strings=("%CE1%" "Pocket Notes")
    fi
    local i
    dirids=()
    for ((i = 1; i <= ${#strings[@]}; i++)); do dirids+=("$i"); done

    # Offsets: the 100-byte header, the three names, then the tables.
    local names=$((100))
    local unsupported=$((names + ${#app} + 1 + ${#provider} + 1))
    local tstrings=$((unsupported + 1))
    local size=$tstrings s
    for s in "${strings[@]}"; do size=$((size + 4 + ${#s} + 1)); done
    local tdirs=$size
    size=$((size + 4 + 2 * (${#dirids[@]} + 1)))
    local tfiles=$size t
    for t in "$@"; do size=$((size + 12 + ${#t} + 1)); done
    local total=$size

    {
        printf 'MSCE'; u32 0; u32 "$total"; u32 0; u32 1
        u32 0                                  # any processor
        u32 0; u32 0; u32 0; u32 0; u32 0; u32 0   # no version or build limits
        u16 ${#strings[@]}; u16 1; u16 $#; u16 0; u16 0; u16 0
        u32 $tstrings; u32 $tdirs; u32 $tfiles; u32 $total; u32 $total; u32 $total
        u16 $names; u16 $((${#app} + 1))
        u16 $((names + ${#app} + 1)); u16 $((${#provider} + 1))
        u16 $unsupported; u16 1
        u16 0; u16 0
        cstr "$app"; cstr "$provider"; cstr ""
        for ((i = 0; i < ${#strings[@]}; i++)); do
            u16 $((i + 1)); u16 $((${#strings[i]} + 1)); cstr "${strings[i]}"
        done
        u16 1; u16 $((2 * (${#dirids[@]} + 1)))
        for i in "${dirids[@]}"; do u16 "$i"; done
        u16 0
        i=1
        for t in "$@"; do
            u16 $i; u16 1; u16 0; u32 0; u16 $((${#t} + 1)); cstr "$t"
            i=$((i + 1))
        done
    } >"$file"
    [[ $(wc -c <"$file") -eq $total ]] || { echo "$0: setup information size mismatch" >&2; exit 1; }
}

# pseudo_random BYTES SEED -- bytes that do not compress, the same every run.
pseudo_random() {
    awk -v n="$1" -v x="$2" 'BEGIN {
        for (i = 0; i < n; i++) {
            x = (x * 16807) % 2147483647
            printf "%c", (x % 255) + 1
        }
    }'
}

# words BYTES -- a word list that compresses like real text.
words() {
    awk -v n="$1" 'BEGIN {
        split("note list page pocket sketch task memo idea draft tag folder sync find keep write read", w, " ")
        split("s ed ing er ly able ness", sfx, " ")
        x = 7; size = 0
        while (size < n) {
            x = (x * 16807) % 2147483647
            word = w[x % 16 + 1] sfx[int(x / 16) % 7 + 1]
            line = word "\n"
            printf "%s", line
            size += length(line)
        }
    }' | head -c "$1"
}

# cab NAME.cab STEM APPNAME SUBFOLDER (TARGET SOURCE)...
cab() {
    local cabfile=$1 stem=$2 app=$3 sub=$4
    shift 4
    local stage=$work/${cabfile%.cab}
    mkdir -p "$stage"
    local -a targets members
    local n=1
    while [[ $# -gt 0 ]]; do
        local member
        member=$(printf '%s.%03d' "$stem" $n)
        cp "$2" "$stage/$member"
        targets+=("$1")
        members+=("$member")
        n=$((n + 1))
        shift 2
    done
    setup_info "$stage/$stem.000" "$app" "$sub" "${targets[@]}"
    touch -d '2009-06-01 12:00:00' "$stage"/*
    rm -f "$out/cabs/$cabfile"
    (cd "$stage" && gcab -c -n "$out/cabs/$cabfile.tmp" "$stem.000" "${members[@]}" >/dev/null)
    mv "$out/cabs/$cabfile.tmp" "$out/cabs/$cabfile"
}


src=$work/src
mkdir -p "$src"
cat >"$src/readme.txt" <<'TEXT'
Pocket Notes 2.3

Tap New to start a note, hold a note to move it to a folder, and use Find
to search every note at once. Notes are kept in \My Documents\Notes.
TEXT
cat >"$src/changes.txt" <<'TEXT'
2.3  Find searches titles and text; faster start-up.
2.2  Folders; notes can be sorted by date or title.
2.1  Sketches can be attached to notes.
TEXT
pseudo_random 300000 12345 >"$src/PocketNotes.exe"
pseudo_random 24000 777 >"$src/notesres.dll"

for topic in start notes folders find sync; do
    {
        printf '<html><head><title>Pocket Notes: %s</title></head><body>\n' "$topic"
        for para in 1 2 3 4 5 6 7 8; do
            printf '<p>Help on %s, part %d: tap and hold a note to see what you can do with it.</p>\n' "$topic" "$para"
        done
        printf '</body></html>\n'
    } >"$src/help-$topic.htm"
done
words 210000 >"$src/words.dic"
printf 'Shopping\r\n- milk\r\n- bread\r\n- stamps\r\n' >"$src/shopping.txt"
printf 'Ideas\r\nA notes program that fits in a pocket.\r\n' >"$src/ideas.txt"
printf 'Trip\r\nTrain at 8:14, platform 3.\r\n' >"$src/trip.txt"

cab notes.cab PNOTES "Pocket Notes" "" \
    "PocketNotes.exe" "$src/PocketNotes.exe" \
    "notesres.dll" "$src/notesres.dll" \
    "readme.txt" "$src/readme.txt" \
    "changes.txt" "$src/changes.txt"
cab help.cab PNHELP "Pocket Notes Help" "Help" \
    "start.htm" "$src/help-start.htm" \
    "notes.htm" "$src/help-notes.htm" \
    "folders.htm" "$src/help-folders.htm" \
    "find.htm" "$src/help-find.htm" \
    "sync.htm" "$src/help-sync.htm"
cab dictionary.cab PNDICT "Pocket Notes Dictionary" "" \
    "words.dic" "$src/words.dic"
cab samples.cab PNSAMP "Pocket Notes Samples" "docs:Notes" \
    "Shopping.txt" "$src/shopping.txt" \
    "Ideas.txt" "$src/ideas.txt" \
    "Trip.txt" "$src/trip.txt"

cp "$here/demo/manifest.toml" "$here/demo/license.txt" "$out/"
echo "sample CABs in $out/cabs; manifest $out/manifest.toml"
