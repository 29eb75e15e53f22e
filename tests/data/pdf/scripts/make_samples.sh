#!/bin/sh
# Makes the sample documents of the PDF tests with LibreOffice, Ghostscript and qpdf, and
# the two incremental updates and the binary-stream document by appending to / writing
# around their output. Run from tests/data/pdf.
set -e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{ echo "A recovered document."; seq 1 600 | tr '\n' ' '; } > "$work/doc.txt"
soffice --headless --convert-to pdf --outdir "$work" "$work/doc.txt" >/dev/null 2>&1
cp "$work/doc.pdf" libreoffice.pdf
cat > "$work/page.ps" <<'PS'
/Helvetica findfont 14 scalefont setfont
1 1 40 { dup 18 mul 40 exch moveto (Line ) show 3 string cvs show } for
showpage
PS
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=ghostscript.pdf "$work/page.ps"
qpdf --linearize ghostscript.pdf linearized.pdf
qpdf --object-streams=generate ghostscript.pdf "$work/xrefstream.pdf"
/usr/bin/python3 - "$work/xrefstream.pdf" <<'PY'
import re, struct, sys, zlib

def startxref(data):
    return int(re.findall(rb"startxref\s+(\d+)", data)[-1])

def size_and_root(data):
    tail = data[data.rfind(b"trailer") if b"trailer" in data[-4096:] else startxref(data):]
    size = int(re.search(rb"/Size (\d+)", tail).group(1))
    root = re.search(rb"/Root (\d+ \d+ R)", tail).group(1)
    return size, root

# An incremental update with a classic cross-reference section: a new Info dictionary.
base = open("ghostscript.pdf", "rb").read()
size, root = size_and_root(base)
obj = size
at = len(base)
body = b"%d 0 obj\n<< /Title (Updated incrementally) >>\nendobj\n" % obj
xref_at = at + len(body)
update = body + b"xref\n%d 1\n%010d 00000 n \ntrailer\n<< /Size %d /Root %s /Info %d 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (
    obj, at, size + 1, root, obj, startxref(base), xref_at)
open("incremental.pdf", "wb").write(base + update)

# An incremental update whose cross-reference data is a stream (no "xref" keyword follows
# the first end-of-file marker).
base = open(sys.argv[1], "rb").read()
size = int(re.findall(rb"/Size (\d+)", base)[-1])
root = re.findall(rb"/Root (\d+ \d+ R)", base)[-1]
at = len(base)
info = size
body = b"%d 0 obj\n<< /Title (Updated with a cross-reference stream) >>\nendobj\n" % info
xref_obj = size + 1
xref_at = at + len(body)
rows = struct.pack(">BIH", 1, at, 0) + struct.pack(">BIH", 1, xref_at, 0)
stream = zlib.compress(rows)
xref = b"%d 0 obj\n<< /Type /XRef /Size %d /W [1 4 2] /Index [%d 2] /Root %s /Info %d 0 R /Prev %d /Filter /FlateDecode /Length %d >>\nstream\n" % (
    xref_obj, size + 2, info, root, info, startxref(base), len(stream)) + stream + b"\nendstream\nendobj\n"
open("incremental_xrefstream.pdf", "wb").write(base + body + xref + b"startxref\n%d\n%%%%EOF\n" % xref_at)

# A document whose uncompressed binary stream holds "%%EOF" and trailer-like lines.
payload = bytes(range(256)) + b"\r\n%%EOF\r\nstartxref\n0\n%%EOF\nstartxref  \n77\n%%EOF\n" + bytes(range(255, -1, -1))
objs = [b"<< /Type /Catalog /Pages 2 0 R /Thumbnail 4 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << >> /Contents 5 0 R >>",
        b"<< /Length %d >>\nstream\n" % len(payload) + payload + b"\nendstream",
        b"<< /Length 0 >>\nstream\n\nendstream"]
out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
offsets = []
for i, o in enumerate(objs, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
xref_at = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for off in offsets:
    out += b"%010d 00000 n \n" % off
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref_at)
open("binary_eof.pdf", "wb").write(out)
PY
for f in *.pdf; do qpdf --check "$f" >/dev/null; done
