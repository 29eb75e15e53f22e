import io, zipfile, random, sys
random.seed(5)
text = ("Morvane recovery test line %d\n" * 1).encode()
body = b"".join(b"line %05d of a text member that compresses\n" % i for i in range(3000))
noise = bytes(random.getrandbits(8) for _ in range(9000))
class Stream(io.RawIOBase):  # a pipe: no seek, no tell, so zipfile writes data descriptors
    def __init__(self): self.buf = bytearray()
    def writable(self): return True
    def write(self, b): self.buf += b; return len(b)
def make(name, members, comment=b"", streamed=False, zip64=False, compression=zipfile.ZIP_DEFLATED):
    s = Stream() if streamed else io.BytesIO()
    with zipfile.ZipFile(s, "w", compression) as z:
        z.comment = comment
        for n, data in members:
            info = zipfile.ZipInfo(n, date_time=(2024, 5, 6, 7, 8, 10))
            info.compress_type = compression
            with z.open(info, "w", force_zip64=zip64) as f: f.write(data)
    open(name, "wb").write(bytes(s.buf) if streamed else s.getvalue())
make("py_stored.zip", [("a.txt", body), ("noise.bin", noise)], compression=zipfile.ZIP_STORED)
make("py_deflated_comment.zip", [("a.txt", body), ("dir/", b""), ("empty.txt", b""), ("noise.bin", noise)], comment=b"an archive comment")
make("py_streamed.zip", [("a.txt", body), ("empty.txt", b""), ("noise.bin", noise)], streamed=True)
make("py_zip64.zip", [("a.txt", body), ("noise.bin", noise)], zip64=True)
make("py_aligned.zip", [("a.txt", body[:477]), ("b.txt", body[:1000])], compression=zipfile.ZIP_STORED)  # b.txt starts at 512
make("py_zip64_streamed.zip", [("a.txt", body), ("noise.bin", noise)], zip64=True, streamed=True)
open("body.txt","wb").write(body); open("noise.bin","wb").write(noise); open("empty.txt","wb").write(b"")
