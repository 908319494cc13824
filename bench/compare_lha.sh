#!/usr/bin/env bash
# Compares our LH5 and LZH coders with independent tools on the same files:
#   LH5 decode vs `lhasa x` extraction, LH5 encode vs `jlha a` creation and `gzip -6`,
#   compressed sizes vs jlha's -lh5- member and gzip; LZH (-lh1- for lhasa) alongside.
# Times are CPU seconds (user + system), the best of RUNS runs.
#
# usage: bench/compare_lha.sh [-b BUILD_DIR] [-r RUNS] [--big] FILE...
#   --big  also codes a generated 1 GiB input and reports our peak resident memory.
set -euo pipefail

build=build
runs=3
big=0
files=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    -b) build=$2; shift 2 ;;
    -r) runs=$2; shift 2 ;;
    --big) big=1; shift ;;
    *) files+=("$1"); shift ;;
  esac
done
tool=$(realpath "$build/tests/coders/coder_tool")
[[ -x $tool ]] || { echo "build coder_tool first ($tool)" >&2; exit 1; }
for t in lhasa jlha gzip; do command -v $t >/dev/null || { echo "$t is missing" >&2; exit 1; }; done
[[ ${#files[@]} -gt 0 ]] || { echo "usage: $0 [-b BUILD] [-r RUNS] [--big] FILE..." >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# cpu_time CMD...: best user+system seconds over $runs runs (run inside $work). The children's
# resource usage is read directly: time(1) prints hundredths, too coarse for the decoders.
cpu_time() {
  (cd "$work" && python3 -c '
import resource, subprocess, sys
best = None
for _ in range(int(sys.argv[1])):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(sys.argv[2:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    spent = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    best = spent if best is None else min(best, spent)
print(f"{best:.4f}")' "$runs" "$@")
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "inf"; else printf "%.2f", a / b }'; }
size() { stat -c %s "$1"; }

printf "%-24s %10s | %-28s | %-38s | %-30s\n" file bytes "LH5 decode: ours lhasa x" \
  "LH5 encode: ours jlha gzip-6 (x)" "sizes: ours jlha gzip"
for f in "${files[@]}"; do
  f=$(realpath "$f")
  n=$(size "$f")
  name=$(basename "$f")

  enc=$(cpu_time "$tool" lh5 encode "$f" ours.raw)
  # Decoding writes a file, as extraction does.
  dec=$(cpu_time "$tool" lh5 decode ours.raw back "$n")
  cmp -s "$work/back" "$f" || echo "!! our LH5 round trip differs on $name"
  "$tool" wrap -lh5- "$work/ours.raw" "$f" "$work/ours.lzh" >/dev/null
  mkdir -p "$work/x"
  lhx=$(cpu_time sh -c "cd x && lhasa xqf ../ours.lzh")
  cmp -s "$work/x/data.bin" "$f" || echo "!! lhasa extracts something else from our LH5 for $name"

  cp "$f" "$work/$name"
  jl=$(cpu_time sh -c "rm -f j.lzh && jlha aq j.lzh '$name'")
  jsize=$("$tool" unwrap "$work/j.lzh" "$work/j.raw" >/dev/null && size "$work/j.raw")
  gz=$(cpu_time sh -c "gzip -6 -c '$name' > g.gz")
  gsize=$(size "$work/g.gz")
  rm -f "$work/$name"

  printf "%-24s %10d | %6s %6s (%5sx)        | %6s %6s %6s (%5sx %5sx)    | %9d %9d %9d\n" \
    "$name" "$n" "$dec" "$lhx" "$(ratio "$lhx" "$dec")" "$enc" "$jl" "$gz" \
    "$(ratio "$jl" "$enc")" "$(ratio "$gz" "$enc")" "$(size "$work/ours.raw")" "$jsize" "$gsize"

  lenc=$(cpu_time "$tool" lzh encode "$f" lzh.raw)
  ldec=$(cpu_time "$tool" lzh decode lzh.raw back "$n")
  cmp -s "$work/back" "$f" || echo "!! our LZH round trip differs on $name"
  "$tool" wrap -lh1- "$work/lzh.raw" "$f" "$work/lzh.lzh" >/dev/null
  l1x=$(cpu_time sh -c "cd x && lhasa xqf ../lzh.lzh")
  cmp -s "$work/x/data.bin" "$f" || echo "!! lhasa extracts something else from our LZH for $name"
  printf "%-24s %10s | LZH: encode %s s, decode %s s, lhasa -lh1- x %s s (%sx), size %d\n" \
    "" "" "$lenc" "$ldec" "$l1x" "$(ratio "$l1x" "$ldec")" "$(size "$work/lzh.raw")"
done

if [[ $big == 1 ]]; then
  # 1 GiB of repeated, slightly varied text: memory must not grow with the input.
  python3 - "$work/big" <<'PY'
import random, sys
random.seed(1)
words = [b"formulario", b"recibo", b"protocolo", b"servidor", b"\n", b"2026", b"valor"]
chunk = b" ".join(random.choice(words) for _ in range(200000))
with open(sys.argv[1], "wb") as out:
    for i in range((1 << 30) // len(chunk) + 2):
        out.write(chunk[i % 97:] + chunk[:i % 97])
    out.truncate(1 << 30)
PY
  for m in lh5 lzh; do
    /usr/bin/time -o "$work/.t" -f "%M %U %S" "$tool" $m encode "$work/big" "$work/big.raw"
    read -r enc_kb eu es < "$work/.t"
    /usr/bin/time -o "$work/.t" -f "%M %U %S" "$tool" $m decode "$work/big.raw" /dev/null $((1 << 30))
    read -r dec_kb du ds < "$work/.t"
    echo "1 GiB $m: encode peak $((enc_kb / 1024)) MiB ($(awk -v a=$eu -v b=$es 'BEGIN{print a+b}') s), decode peak $((dec_kb / 1024)) MiB ($(awk -v a=$du -v b=$ds 'BEGIN{print a+b}') s), stored $(size "$work/big.raw") bytes"
  done
fi
