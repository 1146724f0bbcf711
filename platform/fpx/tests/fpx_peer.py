"""Reads FlashPix files with the peers the tests compare against.

  fpx_peer.py pillow FILE OUT   decodes FILE with Pillow; OUT gets "MODE W H\n" and the pixels
  fpx_peer.py olefile FILE      checks the streams, property sets, class ids and property types
                                with olefile and a reading of the property sets' bytes; prints "ok"

Run under /usr/bin/python3 (Debian's, with python3-pil and python3-olefile) in a child process:
some files make Pillow's FlashPix reader crash.
"""
import struct
import sys


def pillow(path, out):
    from PIL import Image
    im = Image.open(path)
    im.load()
    with open(out, "wb") as f:
        f.write(f"{im.mode} {im.size[0]} {im.size[1]}\n".encode())
        f.write(im.tobytes())


def fail(message):
    print(message)
    sys.exit(2)


def flashpix_id(prefix):
    return f"{prefix:08X}-C154-11CE-8553-00AA00A1F95B"


VT_I2, VT_I4, VT_R4, VT_UI1, VT_UI4, VT_LPSTR, VT_LPWSTR = 2, 3, 4, 17, 19, 30, 31
VT_FILETIME, VT_BLOB, VT_CLSID, VT_VECTOR = 64, 65, 72, 0x1000
SUMMARY = "F29F85E0-4FF9-1068-AB91-08002B27B3D9"


def guid(raw):
    d1, d2, d3 = struct.unpack_from("<IHH", raw)
    return f"{d1:08X}-{d2:04X}-{d3:04X}-{raw[8:10].hex().upper()}-{raw[10:16].hex().upper()}"


def property_set(ole, path):
    """The format id and {id: (type, value)} of a property set stream, read by the bytes."""
    if not ole.exists(path):
        fail("missing " + repr(path))
    data = ole.openstream(path).read()
    byte_order, _, _ = struct.unpack_from("<HHI", data)
    if byte_order != 0xFFFE or struct.unpack_from("<I", data, 24)[0] < 1:
        fail(repr(path) + " is not a property set")
    fmtid = guid(data[28:44])
    section = struct.unpack_from("<I", data, 44)[0]
    size, count = struct.unpack_from("<II", data, section)
    if section + size > len(data):
        fail(repr(path) + " section overruns the stream")
    values = {}
    for i in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
        at = section + offset
        vt = struct.unpack_from("<I", data, at)[0]
        at += 4
        if vt in (VT_I2,):
            value = struct.unpack_from("<h", data, at)[0]
        elif vt in (VT_I4,):
            value = struct.unpack_from("<i", data, at)[0]
        elif vt == VT_UI4:
            value = struct.unpack_from("<I", data, at)[0]
        elif vt == VT_R4:
            value = struct.unpack_from("<f", data, at)[0]
        elif vt == VT_CLSID:
            value = guid(data[at:at + 16])
        elif vt == VT_FILETIME:
            value = struct.unpack_from("<Q", data, at)[0]
        elif vt in (VT_BLOB, VT_LPSTR):
            n = struct.unpack_from("<I", data, at)[0]
            value = data[at + 4:at + 4 + n]
        elif vt == VT_LPWSTR:
            n = struct.unpack_from("<I", data, at)[0]
            value = data[at + 4:at + 4 + 2 * n].decode("utf-16-le").rstrip("\0")
        elif vt == VT_VECTOR | VT_UI4:
            n = struct.unpack_from("<I", data, at)[0]
            value = list(struct.unpack_from(f"<{n}I", data, at + 4))
        else:
            value = None
        values[pid] = (vt, value)
    return fmtid, values


def expect(values, pid, vt, where, value=None):
    if pid not in values:
        fail(f"{where}: property {pid:#010x} missing")
    if values[pid][0] != vt:
        fail(f"{where}: property {pid:#010x} has type {values[pid][0]:#x}, not {vt:#x}")
    if value is not None and values[pid][1] != value:
        fail(f"{where}: property {pid:#010x} is {values[pid][1]!r}, not {value!r}")
    return values[pid][1]


def expect_set(ole, path, fmtid):
    found, values = property_set(ole, path)
    if found != fmtid:
        fail(f"{path!r}: format id {found}, not {fmtid}")
    expect(values, 1, VT_I2, repr(path))  # code page
    return values


def expect_compobj(ole, path, clsid):
    if not ole.exists(path):
        fail("missing " + repr(path))
    data = ole.openstream(path).read()
    if len(data) < 28 or guid(data[12:28]) != clsid:
        fail(f"{path!r} does not name {clsid}")


def olefile_check(path):
    """Every stream and property set a single-image file needs, with the format's class ids,
    format ids, property ids and types; the subimage streams agree with the properties."""
    import olefile
    if not olefile.isOleFile(path):
        fail("not a compound file")
    ole = olefile.OleFileIO(path)
    if ole.root.clsid != flashpix_id(0x56616700):
        fail("root class id " + ole.root.clsid)
    store = "Data Object Store 000001"
    if ole.getclsid(store) != flashpix_id(0x56616000):
        fail("image object class id " + ole.getclsid(store))

    # The image view: its summary, global info pointing at the source description, and the
    # source description of an image no transform made.
    expect_compobj(ole, "\x01CompObj", flashpix_id(0x56616700))
    expect_set(ole, "\x05SummaryInformation", SUMMARY)
    glob = expect_set(ole, "\x05Global Info", flashpix_id(0x56616F00))
    outputs = expect(glob, 0x00010100, VT_VECTOR | VT_UI4, "global info")
    if outputs != [1]:
        fail(f"visible outputs {outputs}")
    if expect(glob, 0x00010101, VT_UI4, "global info") < 1:
        fail("highest image index")
    expect(glob, 0x00010102, VT_UI4, "global info")
    expect(glob, 0x00010103, VT_UI4, "global info")
    source = expect_set(ole, "\x05Data Object 000001", flashpix_id(0x56616080))
    expect(source, 0x00010000, VT_CLSID, "source description")
    expect(source, 0x00010100, VT_UI4, "source description")
    expect(source, 0x00010101, VT_UI4, "source description", 0)  # made by no transform
    expect(source, 0x00010102, VT_VECTOR | VT_UI4, "source description")

    # The image object.
    expect_compobj(ole, [store, "\x01CompObj"], flashpix_id(0x56616000))
    expect_set(ole, [store, "\x05SummaryInformation"], SUMMARY)
    info = expect_set(ole, [store, "\x05Image Info"], flashpix_id(0x56616500))
    expect(info, 0x21000003, VT_LPWSTR, "image info")  # the software that made the file
    contents = expect_set(ole, [store, "\x05Image Contents"], flashpix_id(0x56616400))
    levels = expect(contents, 0x01000000, VT_UI4, "image contents")
    width = expect(contents, 0x01000002, VT_UI4, "image contents")
    height = expect(contents, 0x01000003, VT_UI4, "image contents")
    expect(contents, 0x01000004, VT_R4, "image contents")
    expect(contents, 0x01000005, VT_R4, "image contents")
    expect(contents, 0x01000006, VT_UI4, "image contents")
    expect(source, 0x10000000, VT_UI4, "source description", height)
    expect(source, 0x10000001, VT_UI4, "source description", width)
    expect_levels(ole, store, contents, levels, width, height)

    # Pillow's FlashPix reader and olefile's own property reader agree.
    ole.getproperties([store, "\x05Image Contents"])
    summary = ole.get_metadata()
    if summary.creating_application is None:
        fail("summary information without the application")
    print("ok")


def expect_levels(ole, store, contents, levels, width, height):
    wanted = 1
    side = max(width, height)
    while side > 64:
        side = (side + 1) // 2
        wanted += 1
    if levels != wanted:
        fail(f"{levels} levels, expected {wanted}")
    w, h = width, height
    channels = None
    for level in range(levels - 1, -1, -1):
        where = f"level {level}"
        if (expect(contents, 0x02000000 | level << 16, VT_UI4, where),
                expect(contents, 0x02000001 | level << 16, VT_UI4, where)) != (w, h):
            fail(f"{where} size")
        colour = expect(contents, 0x02000002 | level << 16, VT_BLOB, where)
        subimages, channels = struct.unpack_from("<II", colour)
        colours = list(struct.unpack_from(f"<{channels}I", colour, 8))
        if subimages != 1 or colours not in ([0x00010000], [0x00030000, 0x00030001, 0x00030002]):
            fail(f"{where} colour {colours}")
        if expect(contents, 0x02000003 | level << 16, VT_VECTOR | VT_UI4, where) != [VT_UI1]:
            fail(f"{where} numerical format")
        decimation = expect(contents, 0x02000004 | level << 16, VT_I4, where)
        if decimation != (0 if level == levels - 1 else 2):
            fail(f"{where} decimation {decimation}")
        storage = [store, f"Resolution {level:04d}"]
        if ole.getclsid(storage) != flashpix_id(0x56616100):
            fail(f"{where} class id")
        header = ole.openstream(storage + ["Subimage 0000 Header"]).read()
        data_stream = storage + ["Subimage 0000 Data"]
        data_head = ole.openstream(data_stream).read(28)
        if guid(header[8:24]) != flashpix_id(0x00010000) or guid(data_head[8:24]) != flashpix_id(0x00010100):
            fail(f"{where} subimage stream class ids")
        data_size = ole.get_size(data_stream)
        fields = struct.unpack_from("<9I", header, 28)
        _, hw, hh, tiles, tw, th, ch, table, entry = fields
        across, down = (hw + tw - 1) // tw, (hh + th - 1) // th
        if (hw, hh) != (w, h) or tiles != across * down or ch != channels or (tw, th) != (64, 64):
            fail(f"{where} header {fields}")
        for t in range(tiles):
            offset, size, kind, subtype = struct.unpack_from("<4I", header, 28 + table + t * entry)
            if kind == 0 and size != tw * th * ch:
                fail(f"{where} tile {t} size {size}")
            if kind in (0, 2) and 28 + offset + size > data_size:
                fail(f"{where} tile {t} outside its stream")
            if kind == 1 and ch == 1 and subtype & 0xFF != (subtype >> 16) & 0xFF:
                # one grey value, in the lowest byte and where the reference library reads it
                fail(f"{where} tile {t} single colour {subtype:#010x}")
            if kind == 2:
                tables = subtype >> 24
                if tables != 0:
                    expect(contents, 0x03000001 | tables << 16, VT_BLOB, f"{where} tile {t} JPEG tables")
                    expect(contents, 0x03000002, VT_UI4, "highest JPEG table index")
        w, h = (w + 1) // 2, (h + 1) // 2


if __name__ == "__main__":
    if sys.argv[1] == "pillow":
        pillow(sys.argv[2], sys.argv[3])
    else:
        olefile_check(sys.argv[2])
