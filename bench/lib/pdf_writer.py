# Writes a PDF of Letter pages for the benches, its cross-reference offsets counted.
import zlib


# `pages`: (content stream, resources) pairs; `resources(objects)` may append objects of its own
# and gives the page's resource dictionary.
def write(path, pages):
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None]
    kids = []
    for content, resources in pages:
        stream = zlib.compress(content)
        objects.append(b"<< /Length %d /Filter /FlateDecode >>stream\n" % len(stream) + stream + b"\nendstream")
        contents = len(objects)
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R /Resources %s >>"
                       % (contents, resources(objects)))
        kids.append(len(objects))
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids))
    out = bytearray(b"%PDF-1.7\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer << /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    open(path, "wb").write(out)


# The resources of a page in Helvetica (as F1).
font = lambda objects: b"<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>"
