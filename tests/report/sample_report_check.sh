#!/usr/bin/env bash
# Runs the sample report headless: the preview is grabbed to PNG and the report printed on the
# folder printer; poppler's tools then read the PDF back (text layer, page count, rendering).
set -euo pipefail
sample="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

QT_QPA_PLATFORM=offscreen "$sample" --grab "$work/preview.png" --pdf "$work/pdf" >"$work/out.txt"
grep -q '^pages: 3$' "$work/out.txt"
pdf="$(sed -n 's/^pdf: //p' "$work/out.txt")"
test -s "$work/preview.png"
test -s "$pdf"

pdfinfo "$pdf" | grep -Eq '^Pages: +3$'
pdfinfo "$pdf" | grep -q 'A4'
text="$(pdftotext "$pdf" -)"
for expected in 'RELATÓRIO DE DEMONSTRAÇÃO' 'Resumo dos formulários' 'protocolo 2026/000123' \
                'Página 3' 'Fim do relatório.' '070'; do
  grep -qF "$expected" <<<"$text" || { echo "missing: $expected"; exit 1; }
done
# Every placeholder was replaced, whatever its letter case.
if grep -qi '%protocolo%\|%data%\|%instituicao%' <<<"$text"; then echo "placeholder left"; exit 1; fi
# The over-long description was cut to its column.
if grep -qF 'longo demais para a coluna' <<<"$text"; then echo "text not cut"; exit 1; fi

pdftoppm -r 40 -png "$pdf" "$work/page"
test "$(ls "$work"/page-*.png | wc -l)" -eq 3
echo "sample report ok: $pdf"
