#!/usr/bin/env bash
# Compares our LH5 and LZH coders with independent tools on the same files:
#   LH5 decode vs `lhasa x` extraction and `libdeflate-gunzip`, LH5 encode vs `jlha a` creation,
#   `gzip -6` and `libdeflate-gzip -6`, compressed sizes vs jlha's -lh5- member and both gzips;
#   LZH (-lh1- for lhasa) alongside.
# Times are CPU seconds (user + system), the best of RUNS runs; "/ld" is our time over
# libdeflate's (the targets: encode 1.3, decode 1.2). Decoding runs twice: to a byte sum only
# (libdeflate-gunzip to /dev/null, which checks its CRC) and to a file. RSS is the peak resident
# memory of our coder over its runs.
#
# usage: bench/compare_lha.sh [-b BUILD_DIR] [-r RUNS] [--big[=text|mixed|both]] FILE...
#   --big  also codes a generated 1 GiB input the same way and reports our peak resident memory:
#          repeated text (the default), a mixed input from bench/make_mixed_input.py, or both.
#   bench/make_mixed_input.py writes a mixed input to try.
set -euo pipefail

build=build
runs=3
big=()
files=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    -b) build=$2; shift 2 ;;
    -r) runs=$2; shift 2 ;;
    --big | --big=text) big+=(text); shift ;;
    --big=mixed) big+=(mixed); shift ;;
    --big=both) big+=(text mixed); shift ;;
    --big=*) echo "--big takes text, mixed or both" >&2; exit 2 ;;
    *) files+=("$1"); shift ;;
  esac
done
tool=$(realpath "$build/tests/coders/coder_tool")
[[ -x $tool ]] || { echo "build coder_tool first ($tool)" >&2; exit 1; }
for t in lhasa jlha gzip libdeflate-gzip libdeflate-gunzip; do command -v $t >/dev/null || { echo "$t is missing" >&2; exit 1; }; done
[[ ${#files[@]} -gt 0 ]] || { echo "usage: $0 [-b BUILD] [-r RUNS] [--big[=text|mixed|both]] FILE..." >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# measure CMD...: "SECONDS RSS_MIB": the best user+system seconds over $runs runs (run inside
# $work), then the peak resident memory of one more run. The children's resource usage is read
# directly: time(1) prints hundredths, too coarse for the decoders. The memory comes from
# time(1): a child of Python would count Python's pages, copied before the command starts.
measure() {
  local seconds
  seconds=$(cpu_time "$@")
  (cd "$work" && /usr/bin/time -f %M -o .rss "$@" >/dev/null 2>&1)
  echo "$seconds $(awk '{ printf "%.1f", $1 / 1024 }' "$work/.rss")"
}
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

# compare NAME FILE: every LH5 figure for one input, then our LZH.
compare() {
  local name=$1 f=$2 n
  n=$(size "$f")
  local enc dec_sum dec_file rss_enc rss_dec
  read -r enc rss_enc < <(measure "$tool" lh5 encode "$f" ours.raw)
  read -r dec_sum rss_dec < <(measure "$tool" lh5 decode ours.raw - "$n")
  # Decoding to a file, as extraction does.
  dec_file=$(cpu_time "$tool" lh5 decode ours.raw back "$n")
  cmp -s "$work/back" "$f" || echo "!! our LH5 round trip differs on $name"
  "$tool" wrap -lh5- "$work/ours.raw" "$f" "$work/ours.lzh" >/dev/null
  mkdir -p "$work/x"
  local lhx
  lhx=$(cpu_time sh -c "cd x && lhasa xqf ../ours.lzh")
  cmp -s "$work/x/data.bin" "$f" || echo "!! lhasa extracts something else from our LH5 for $name"

  ln -sf "$f" "$work/$name"
  local jl jsize gz ld ld_sum ld_file
  jl=$(cpu_time sh -c "rm -f j.lzh && jlha aq j.lzh '$name'")
  jsize=$("$tool" unwrap "$work/j.lzh" "$work/j.raw" >/dev/null && size "$work/j.raw")
  gz=$(cpu_time sh -c "gzip -6 -c '$name' > g.gz")
  ld=$(cpu_time sh -c "libdeflate-gzip -6 -c '$name' > ld.gz")
  ld_sum=$(cpu_time libdeflate-gunzip -c ld.gz)  # to /dev/null: only its CRC is kept
  ld_file=$(cpu_time sh -c "libdeflate-gunzip -c ld.gz > ld.back")
  cmp -s "$work/ld.back" "$f" || echo "!! libdeflate round trip differs on $name"
  rm -f "$work/$name" "$work/ld.back"

  printf "%s, %d bytes\n" "$name" "$n"
  printf "  LH5 encode   ours %7s s  jlha %7s  gzip-6 %7s  libdeflate-6 %7s  ours/ld %5s  (rss %s MiB)\n" \
    "$enc" "$jl" "$gz" "$ld" "$(ratio "$enc" "$ld")" "$rss_enc"
  printf "  LH5 decode   to sum  ours %7s s  libdeflate %7s  ours/ld %5s  (rss %s MiB)\n" \
    "$dec_sum" "$ld_sum" "$(ratio "$dec_sum" "$ld_sum")" "$rss_dec"
  printf "               to file ours %7s s  libdeflate %7s  ours/ld %5s  lhasa x %7s (%sx ours)\n" \
    "$dec_file" "$ld_file" "$(ratio "$dec_file" "$ld_file")" "$lhx" "$(ratio "$lhx" "$dec_file")"
  printf "  sizes        ours %d  jlha %s  gzip-6 %d  libdeflate-6 %d\n" \
    "$(size "$work/ours.raw")" "$jsize" "$(size "$work/g.gz")" "$(size "$work/ld.gz")"

  local lenc ldec l1x
  lenc=$(cpu_time "$tool" lzh encode "$f" lzh.raw)
  ldec=$(cpu_time "$tool" lzh decode lzh.raw back "$n")
  cmp -s "$work/back" "$f" || echo "!! our LZH round trip differs on $name"
  "$tool" wrap -lh1- "$work/lzh.raw" "$f" "$work/lzh.lzh" >/dev/null
  l1x=$(cpu_time sh -c "cd x && lhasa xqf ../lzh.lzh")
  cmp -s "$work/x/data.bin" "$f" || echo "!! lhasa extracts something else from our LZH for $name"
  printf "  LZH          encode %s s, decode %s s, lhasa -lh1- x %s s (%sx), size %d\n" \
    "$lenc" "$ldec" "$l1x" "$(ratio "$l1x" "$ldec")" "$(size "$work/lzh.raw")"
  rm -f "$work/back" "$work/x/data.bin"
}

for f in "${files[@]}"; do
  f=$(realpath "$f")
  compare "$(basename "$f")" "$f"
done

# big KIND: the generated 1 GiB input of that kind, one run each: our LH5 against libdeflate,
# then our LZH alone. Memory must not grow with the input.
big() {
  local kind=$1 label
  if [[ $kind == text ]]; then
    label="generated text"
    # Repeated, slightly varied text.
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
  else
    label="generated mixed"
    python3 "$(dirname "$0")/make_mixed_input.py" "$work/big" 1024
  fi
  n=$(size "$work/big")
  read -r enc rss_enc < <(runs=1 measure "$tool" lh5 encode big big.raw)
  read -r dec_sum rss_sum < <(runs=1 measure "$tool" lh5 decode big.raw - "$n")
  read -r dec_file rss_file < <(runs=1 measure "$tool" lh5 decode big.raw big.back "$n")
  cmp -s "$work/big.back" "$work/big" || echo "!! our LH5 round trip differs on the 1 GiB $kind input"
  rm -f "$work/big.back"
  ld=$(runs=1 cpu_time sh -c "libdeflate-gzip -6 -c big > big.gz")
  ld_sum=$(runs=1 cpu_time libdeflate-gunzip -c big.gz)
  ld_file=$(runs=1 cpu_time sh -c "libdeflate-gunzip -c big.gz > big.back")
  rm -f "$work/big.back"
  echo "1 GiB $label, $n bytes"
  printf "  LH5 encode   ours %7s s  libdeflate-6 %7s  ours/ld %5s  (rss %s MiB)\n" \
    "$enc" "$ld" "$(ratio "$enc" "$ld")" "$rss_enc"
  printf "  LH5 decode   to sum  ours %7s s  libdeflate %7s  ours/ld %5s  (rss %s MiB)\n" \
    "$dec_sum" "$ld_sum" "$(ratio "$dec_sum" "$ld_sum")" "$rss_sum"
  printf "               to file ours %7s s  libdeflate %7s  ours/ld %5s  (rss %s MiB)\n" \
    "$dec_file" "$ld_file" "$(ratio "$dec_file" "$ld_file")" "$rss_file"
  printf "  sizes        ours %d  libdeflate-6 %d\n" "$(size "$work/big.raw")" "$(size "$work/big.gz")"
  rm -f "$work/big.gz"
  for m in lzh; do
    /usr/bin/time -o "$work/.t" -f "%M %U %S" "$tool" $m encode "$work/big" "$work/big.raw"
    read -r enc_kb eu es < "$work/.t"
    /usr/bin/time -o "$work/.t" -f "%M %U %S" "$tool" $m decode "$work/big.raw" /dev/null $((1 << 30))
    read -r dec_kb du ds < "$work/.t"
    echo "1 GiB $m: encode peak $((enc_kb / 1024)) MiB ($(awk -v a=$eu -v b=$es 'BEGIN{print a+b}') s), decode peak $((dec_kb / 1024)) MiB ($(awk -v a=$du -v b=$ds 'BEGIN{print a+b}') s), stored $(size "$work/big.raw") bytes"
  done
  rm -f "$work/big" "$work/big.raw"
}

for kind in "${big[@]}"; do big "$kind"; done
