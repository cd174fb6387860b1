#!/usr/bin/env bash
# What arrives is what was sent: texts, an empty file, a 1 GiB file, a tree of 10,000 files
# with hidden files and empty folders, a mix, each published under the naming rules.
set -euo pipefail
source "$(dirname "$0")/transfer-lib.sh" "$1"

testlan_up 2
start_receiver h2
ip2=$(testlan_ip h2)
src=$(testlan_home h1)/src
dl=$(downloads_of h2)
mkdir -p "$src"

# A text with letters beyond ASCII, addressed by a part of the receiver's signature.
text='Grüße aus Zürich — ½ € ✓'
send_ok h1 velto-h2 --text "$text"
wait_for_event h2 '"transfer-incoming-text"'
grep -F "\"text\":\"$text\"" "$(testlan_home h2)/events" >/dev/null || fail "text changed on the way"

# One empty file.
: >"$src/empty.dat"
send_ok h1 "$ip2" "$src/empty.dat"
[ -f "$dl/empty.dat" ] && [ ! -s "$dl/empty.dat" ] || fail "the empty file did not arrive empty"

# Clashing names take the next free number.
for name in photo.jpg archive.tar.gz .profile README; do
    echo "$name" >"$src/$name"
    for _ in 1 2 3; do send_ok h1 "$ip2" "$src/$name"; done
done
for name in "photo (2).jpg" "photo (3).jpg" "archive.tar (2).gz" "archive.tar (3).gz" \
    ".profile (2)" ".profile (3)" "README (2)" "README (3)"; do
    [ -f "$dl/$name" ] || fail "no $name after clashes"
done

# A tree of 10,000 small files in nested folders, with hidden files and empty folders.
tree=$src/Tree
python3 - "$tree" <<'PY'
import os, sys
tree = sys.argv[1]
for d in range(50):
    for folder in (f"d{d}/sub", f"d{d}/empty-{d}", f".hidden-{d}"):
        os.makedirs(os.path.join(tree, folder))
    files = [f"d{d}/sub/f{f}.txt" for f in range(98)] + [f"d{d}/m{f}" for f in range(100)]
    files += [f".hidden-{d}/.dot", f"d{d}/t.txt"]
    for name in files:
        with open(os.path.join(tree, name), "w") as out:
            out.write(f"{name} {d}\n")
PY
[ "$(find "$tree" -type f | wc -l)" -eq 10000 ] || fail "tree setup"
send_ok h1 "$ip2" "$tree"
[ "$(fingerprint "$dl/Tree")" = "$(fingerprint "$tree")" ] || fail "the tree differs"

# Names on disk that are not UTF-8 (Latin-1, a cut-off sequence, one whose escaped form meets a
# sibling's name) go under their %XX forms: the whole folder arrives, and the sender names each
# renamed item.
odd=$src/Odd
mkdir -p "$odd/d$(printf '\xfc')r"
echo 1 >"$odd/caf$(printf '\xe9').jpg"
echo 2 >"$odd/caf%E9.jpg"
echo 3 >"$odd/$(printf '\xc3')(.txt"
echo 4 >"$odd/d$(printf '\xfc')r/x"
send_ok h1 "$ip2" "$odd"
for name in "Odd/caf%E9 (2).jpg" "Odd/%C3(.txt" "Odd/d%FCr"; do
    grep -qxF "Renamed for sending: $name (the name on disk is not valid UTF-8)" \
        "$(testlan_home h1)/sent" || fail "the sender did not report $name"
done
[ "$(grep -c Renamed "$(testlan_home h1)/sent")" -eq 3 ] || fail "more renames reported"
[ "$(cd "$dl/Odd" && grep -r . | LC_ALL=C sort | tr '\n' ' ')" = \
    "%C3(.txt:3 caf%E9 (2).jpg:1 caf%E9.jpg:2 d%FCr/x:4 " ] || fail "the folder with odd names differs"

# A mix of files and folders lands in one dated folder.
mkdir -p "$src/Mix/inner/deeper" "$src/Mix/void"
echo a >"$src/Mix/a.txt"
echo b >"$src/Mix/inner/deeper/b.txt"
head -c 3000000 /dev/urandom >"$src/Mix/noise.bin"
send_ok h1 "$ip2" "$src/Mix/a.txt" "$src/Mix/inner" "$src/Mix/void" "$src/Mix/noise.bin"
dated=$(find "$dl" -maxdepth 1 -name 'Received by Velto at *' | head -n 1)
[ -n "$dated" ] || fail "no dated folder for the mix"
expected=$(cd "$src/Mix" && fingerprint .)
[ "$(fingerprint "$dated")" = "$expected" ] || fail "the mix differs"

# One file of 1 GiB (less in sanitizer builds): sparse at the source, data scattered through it.
big=$src/big.bin
size_mib=${VELTO_E2E_LARGE_FILE_MIB:-1024}
truncate -s "${size_mib}M" "$big"
for offset in 0 1000 $((size_mib * 256 - 1)) $((size_mib * 512)) $((size_mib * 1024 - 4)); do
    head -c 4096 /dev/urandom | dd of="$big" bs=1024 seek="$offset" conv=notrunc status=none
done
[ "$(stat -c %s "$big")" -eq $((size_mib * 1024 * 1024)) ] || fail "large file setup"
send_ok h1 "$ip2" "$big"
cmp -s "$dl/big.bin" "$big" || fail "the large file differs"  # every byte, not a digest

[ -z "$(find "$dl" -maxdepth 1 -name '.VeltoTransferIntermediateStorage*')" ] ||
    fail "an intermediate folder was left behind"
[ "$(count_events h2 transfer-failed)" -eq 0 ] || fail "a transfer failed"
echo "transfer content: all arrived intact"
