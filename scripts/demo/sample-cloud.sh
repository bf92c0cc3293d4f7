#!/usr/bin/env bash
# Fills DIR with the demo's sample cloud: nested folders, text files, an image, a PDF document, a
# big file of BIG_MIB mebibytes, a file with a Chinese name and an empty file.
# Usage: sample-cloud.sh DIR BIG_MIB
set -euo pipefail
usage="usage: sample-cloud.sh DIR BIG_MIB"
case "${1:-}" in --help | -h) echo "$usage"; exit 0 ;; esac
[ $# -eq 2 ] || { echo "$usage" >&2; exit 2; }
dir=$1
big_mib=$2

mkdir -p "$dir/Documents/Reports/2026" "$dir/Photos/Holiday" "$dir/Videos"
cat >"$dir/README.txt" <<'TEXT'
Welcome to the Nimbrel demo cloud.
Every file here is a placeholder until a program reads it.
TEXT
printf 'Quarterly figures\nQ1 120\nQ2 135\nQ3 150\n' >"$dir/Documents/Reports/2026/figures.txt"
printf 'Notes for the meeting.\n- projection\n- hydration\n- free up space\n' >"$dir/Documents/notes.md"
printf '年度报告\n收入增长百分之十二。\n' >"$dir/Documents/Reports/年度报告.txt"
: >"$dir/Documents/empty.txt"

# A small real PNG (a colour gradient), so image viewers open it.
python3 - "$dir/Photos/Holiday/sunset.png" <<'PY'
import struct, sys, zlib
w, h = 64, 48
rows = b"".join(b"\0" + bytes(v for x in range(w) for v in (255, 4 * y % 256, 4 * x % 256)) for y in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY

# A one-page PDF with its cross-reference table, so PDF readers open it.
python3 - "$dir/Documents/Manual.pdf" <<'PY'
import sys
text = b"BT /F1 24 Tf 72 720 Td (Nimbrel demo manual) Tj ET"
objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
           b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
           b" /Resources << /Font << /F1 5 0 R >> >> >>",
           b"<< /Length %d >>\nstream\n%s\nendstream" % (len(text), text),
           b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
out, offsets = b"%PDF-1.4\n", []
for number, body in enumerate(objects, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open(sys.argv[1], "wb").write(out)
PY

head -c "$((big_mib * 1024 * 1024))" /dev/urandom >"$dir/Videos/big-video.bin"
