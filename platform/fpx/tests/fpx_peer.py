"""Reads FlashPix files with the peers the tests compare against.

  fpx_peer.py pillow FILE OUT   decodes FILE with Pillow; OUT gets "MODE W H\n" and the pixels
  fpx_peer.py olefile FILE      checks the compound-file structure with olefile; prints "ok"

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


def olefile_check(path):
    import olefile
    if not olefile.isOleFile(path):
        fail("not a compound file")
    ole = olefile.OleFileIO(path)
    if ole.root.clsid != "56616700-C154-11CE-8553-00AA00A1F95B":
        fail("root class id " + ole.root.clsid)
    store = "Data Object Store 000001"
    contents = ole.getproperties([store, "\x05Image Contents"])
    levels = contents[0x01000000]
    width, height = contents[0x01000002], contents[0x01000003]
    expect = 1
    side = max(width, height)
    while side > 64:
        side = (side + 1) // 2
        expect += 1
    if levels != expect:
        fail(f"{levels} levels, expected {expect}")
    w, h = width, height
    for level in range(levels - 1, -1, -1):
        if (contents[0x02000000 | level << 16], contents[0x02000001 | level << 16]) != (w, h):
            fail(f"level {level} size")
        colour = contents[0x02000002 | level << 16]
        channels = struct.unpack_from("<I", colour, 4)[0]
        storage = [store, f"Resolution {level:04d}"]
        if ole.getclsid(storage) != "56616100-C154-11CE-8553-00AA00A1F95B":
            fail(f"level {level} class id")
        header = ole.openstream(storage + ["Subimage 0000 Header"]).read()
        data_size = ole.get_size(storage + ["Subimage 0000 Data"])
        fields = struct.unpack_from("<9I", header, 28)
        _, hw, hh, tiles, tw, th, ch, table, entry = fields
        across, down = (hw + tw - 1) // tw, (hh + th - 1) // th
        if (hw, hh) != (w, h) or tiles != across * down or ch != channels or (tw, th) != (64, 64):
            fail(f"level {level} header {fields}")
        for t in range(tiles):
            offset, size, kind, subtype = struct.unpack_from("<4I", header, 28 + table + t * entry)
            if kind == 0 and size != tw * th * ch:
                fail(f"level {level} tile {t} size {size}")
            if kind in (0, 2) and 28 + offset + size > data_size:
                fail(f"level {level} tile {t} outside its stream")
            if kind == 2 and (subtype >> 24) not in (0,) and (0x03000001 | (subtype >> 24) << 16) not in contents:
                fail(f"level {level} tile {t} JPEG table missing")
        w, h = (w + 1) // 2, (h + 1) // 2
    ole.getproperties([store, "\x05Image Info"])
    summary = ole.get_metadata()
    if not ole.exists("\x05SummaryInformation") or summary.creating_application is None:
        fail("summary information")
    print("ok")


if __name__ == "__main__":
    if sys.argv[1] == "pillow":
        pillow(sys.argv[2], sys.argv[3])
    else:
        olefile_check(sys.argv[2])
