#!/usr/bin/env bash
# Makes the office document and archive samples of this folder. The test suite only reads
# the results; run this again only to change them.
# Needs: LibreOffice (soffice), Info-ZIP zip, xz, python3.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Documents written by LibreOffice from plain sources: text, a sheet, two slides.
printf 'Quarterly report\nThis document was written for the recovery tests of a file carver.\nIt has a few paragraphs of plain text.\n' > "$work/doc.txt"
python3 - "$work" <<'PY'
import csv, sys
d = sys.argv[1]
with open(f"{d}/sheet.csv", "w", newline="") as f:
    w = csv.writer(f)
    w.writerow(["name", "value", "note"])
    for i in range(40): w.writerow([f"item{i}", i * 3.5, "x" * (i % 7)])
# 65000 rows of 16 columns: an .xls of about 8 MiB, whose FAT needs more sectors than the
# 109 the header lists, so it continues in a DIFAT sector.
with open(f"{d}/big.csv", "w", newline="") as f:
    w = csv.writer(f)
    for i in range(65000): w.writerow([i] + [(i % 50) * c + 0.5 for c in range(1, 16)])
PY
cat > "$work/slides.fodp" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:body><office:presentation>
<draw:page draw:name="page1"><draw:frame svg:width="20cm" svg:height="3cm" svg:x="2cm" svg:y="2cm"><draw:text-box><text:p>Slide one: recovery test</text:p></draw:text-box></draw:frame></draw:page>
<draw:page draw:name="page2"><draw:frame svg:width="20cm" svg:height="3cm" svg:x="2cm" svg:y="2cm"><draw:text-box><text:p>Slide two</text:p></draw:text-box></draw:frame></draw:page>
</office:presentation></office:body></office:document>
XML
conv() { soffice --headless --convert-to "$1" --outdir "$work" "$work/$2" >/dev/null 2>&1; }
conv doc doc.txt; conv docx doc.txt
conv xls sheet.csv; conv xlsx sheet.csv; conv xls big.csv
conv ppt slides.fodp; conv pptx slides.fodp
cp "$work/doc.doc" "$work/sheet.xls" "$work/doc.docx" "$work/sheet.xlsx" "$work/slides.pptx" .
xz -9 -c "$work/slides.ppt" > slides.ppt.xz
xz -9 -c "$work/big.xls" > big.xls.xz

# LibreOffice starts its packages with "_rels/.rels" and streams every member (data
# descriptors). Office starts with "[Content_Types].xml" and writes the sizes in the local
# headers: the same document repacked that way.
python3 - <<'PY'
import zipfile
src = zipfile.ZipFile("doc.docx")
order = ["[Content_Types].xml"] + [n for n in src.namelist() if n != "[Content_Types].xml"]
with zipfile.ZipFile("contenttypes_first.docx", "w", zipfile.ZIP_DEFLATED) as z:
    for n in order:
        info = zipfile.ZipInfo(n, date_time=(2024, 5, 6, 7, 8, 10)); info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, src.read(n))
PY

# Archives: Python's zipfile (stored, deflated with a comment, a directory and an empty
# member, streamed with data descriptors, ZIP64 with and without descriptors) ...
(cd "$work" && python3 "$OLDPWD/make_zips.py")
cp "$work"/py_*.zip .
# ... and Info-ZIP: deflated with a comment, streamed through a pipe (ZIP64 local header
# with sizes 0xFFFFFFFF and a data descriptor), forced ZIP64.
(cd "$work" && TZ=UTC touch -t 202405060708 body.txt noise.bin empty.txt &&
 zip -q -X iz_deflated.zip body.txt noise.bin empty.txt && echo "info-zip comment" | zip -q -z iz_deflated.zip &&
 cat body.txt | zip -q -X - - | cat > iz_streamed.zip &&
 zip -q -X -fz iz_zip64.zip body.txt noise.bin)
cp "$work"/iz_*.zip .

# A ZIP-based CorelDRAW drawing: "content/riffData.cdr" first, then a page and a comment.
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("drawing_zip.cdr", "w", zipfile.ZIP_DEFLATED) as z:
    z.comment = b"drawing comment"
    riff = b"RIFF" + (4 + 200).to_bytes(4, "little") + b"CDRA" + b"\x00" * 200
    for n, data, method in [("content/riffData.cdr", riff, zipfile.ZIP_DEFLATED),
                            ("content/data/page1.dat", b"page " * 400, zipfile.ZIP_STORED),
                            ("META-INF/metadata.xml", b"<meta/>", zipfile.ZIP_DEFLATED)]:
        info = zipfile.ZipInfo(n, date_time=(2024, 5, 6, 7, 8, 10)); info.compress_type = method
        z.writestr(info, data)
PY
