#!/usr/bin/env python3
"""Builds canon.cr3: a small Canon CR3 laid out as the camera writes it (no CR3 writer is
packaged). ISO base media with the major brand "crx ":
  ftyp  crx / crx , isom
  moov  uuid 85c0b687-... (CNCV, CCTP, CTBO, free, CMT1..CMT4 TIFF blocks, THMB thumbnail),
        mvhd, four trak boxes (JPEG render, preview, raw data, metadata) whose co64 offsets
        point into mdat
  uuid  be7acfcb-... XMP packet
  uuid  eaf42b5e-... PRVW preview picture
  mdat  JPEG render, raw data, CTMD metadata
The pictures are the JPEG samples beside this folder; the raw data is a fixed pseudo-random run."""
import os, random, struct

here = os.path.dirname(os.path.abspath(__file__))
jpeg = open(os.path.join(here, "../jpeg/baseline.jpg"), "rb").read()
thumb = open(os.path.join(here, "../jpeg/exif_thumb.jpg"), "rb").read()[:2000]

def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload

def full(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)

def uuid(hexid, payload):
    return box(b"uuid", bytes.fromhex(hexid.replace("-", "")) + payload)

def tiff_block(kind, tag):
    ifd = struct.pack("<2sHI", b"II", 42, 8) + struct.pack("<H", 1) + struct.pack("<HHII", tag, 3, 1, 1) + b"\0" * 4
    return box(kind, ifd)

rng = random.Random(3)
raw = bytes(rng.getrandbits(8) for _ in range(24000))
ctmd = struct.pack("<IHH", 12, 1, 0) + b"\0" * 4
xmp = b'<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/"/><?xpacket end="w"?>'

def trak(track_id, offset, size, fmt):
    stsd = full(b"stsd", 0, 0, struct.pack(">I", 1) + box(fmt, b"\0" * 6 + struct.pack(">H", 1) + b"\0" * 16))
    stbl = box(b"stbl", stsd + full(b"stts", 0, 0, struct.pack(">III", 1, 1, 1))
               + full(b"stsc", 0, 0, struct.pack(">IIII", 1, 1, 1, 1))
               + full(b"stsz", 0, 0, struct.pack(">III", size, 1, size))
               + full(b"co64", 0, 0, struct.pack(">IQ", 1, offset)))
    minf = box(b"minf", full(b"vmhd", 0, 1, b"\0" * 8) + stbl)
    mdia = box(b"mdia", full(b"mdhd", 0, 0, b"\0" * 8 + struct.pack(">II", 1, 1) + b"\0" * 4)
               + full(b"hdlr", 0, 0, b"\0" * 4 + b"vide" + b"\0" * 13) + minf)
    tkhd = full(b"tkhd", 0, 1, b"\0" * 8 + struct.pack(">I", track_id) + b"\0" * 68)
    return box(b"trak", tkhd + mdia)

def layout(mdat_at):
    jpeg_at = mdat_at + 8
    raw_at = jpeg_at + len(jpeg)
    ctmd_at = raw_at + len(raw)
    cctp = box(b"CCTP", b"\0" * 8 + struct.pack(">I", 3) + b"".join(box(b"CCDT", struct.pack(">QII", t, 0, i)) for i, t in enumerate((0, 1, 3))))
    ctbo = box(b"CTBO", struct.pack(">I", 5) + b"".join(struct.pack(">IQQ", i + 1, 0, 0) for i in range(5)))
    canon = uuid("85c0b687-820f-11e0-8111-f4ce462b6a48",
                 box(b"CNCV", b"CanonCR3_001/00.09.00/00.00.00") + cctp + ctbo + box(b"free", b"\0" * 16)
                 + tiff_block(b"CMT1", 0x010F) + tiff_block(b"CMT2", 0x829A) + tiff_block(b"CMT3", 0x0001)
                 + tiff_block(b"CMT4", 0x0000) + box(b"THMB", struct.pack(">BBHHIH", 0, 0, 0, 160, len(thumb), 1) + b"\0" * 2 + thumb))
    mvhd = full(b"mvhd", 0, 0, b"\0" * 8 + struct.pack(">II", 1000, 0) + b"\0" * 76 + struct.pack(">I", 5))
    moov = box(b"moov", canon + mvhd + trak(1, jpeg_at, len(jpeg), b"CRAW") + trak(2, jpeg_at, len(jpeg), b"CRAW")
               + trak(3, raw_at, len(raw), b"CRAW") + trak(4, ctmd_at, len(ctmd), b"CTMD"))
    return moov

ftyp = box(b"ftyp", b"crx " + struct.pack(">I", 1) + b"crx " + b"isom")
xmp_box = uuid("be7acfcb-97a9-42e8-9c71-999491e3afac", xmp)
prvw = uuid("eaf42b5e-1c98-4b88-b9fb-b7dc406e4d16", b"\0" * 8 + box(b"PRVW", struct.pack(">IHHHH", 0, 1, 160, 120, 1) + struct.pack(">I", len(thumb)) + thumb))
head = len(ftyp) + len(layout(0)) + len(xmp_box) + len(prvw)
moov = layout(head)
mdat = box(b"mdat", jpeg + raw + ctmd)
open(os.path.join(here, "canon.cr3"), "wb").write(ftyp + moov + xmp_box + prvw + mdat)
