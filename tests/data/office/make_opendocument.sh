#!/bin/sh
# Makes the OpenDocument and EPUB samples with LibreOffice (soffice, headless): a text, a
# spreadsheet, a presentation and a drawing, and the text as an EPUB book. Each begins with
# its uncompressed "mimetype" member. Run from tests/data/office.
set -e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'Morvane test document\n\nA paragraph of text about sectors and clusters.\n' > report.txt
printf 'a,b,c\n1,2,3\n4,5,6\n' > sheet.csv
cat > slides.fodp <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body><office:presentation><draw:page draw:name="page1"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="3cm"><draw:text-box><text:p>Recovered slide</text:p></draw:text-box></draw:frame></draw:page></office:presentation></office:body>
</office:document>
XML
sed -e 's/opendocument.presentation"/opendocument.graphics"/; s/office:presentation>/office:drawing>/g; s/Recovered slide/A drawing/' slides.fodp > drawing.fodg
soffice --headless --convert-to odt report.txt >/dev/null 2>&1
soffice --headless --convert-to ods sheet.csv >/dev/null 2>&1
soffice --headless --convert-to odp slides.fodp >/dev/null 2>&1
soffice --headless --convert-to odg:draw8 drawing.fodg >/dev/null 2>&1
soffice --headless --convert-to epub report.odt >/dev/null 2>&1
cd - >/dev/null
cp "$work/report.odt" "$work/sheet.ods" "$work/slides.odp" "$work/drawing.odg" "$work/report.epub" .
