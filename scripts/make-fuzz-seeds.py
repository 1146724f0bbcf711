"""Writes small seed files for the fuzz targets: images made by Pillow (and, where the
format exists in this build, by tessera-tool), one folder per target."""
import os
import subprocess
import sys

from PIL import Image

corpus, tool = sys.argv[1], sys.argv[2]


def chart(mode, size):
    img = Image.new(mode, size)
    px = img.load()
    for y in range(size[1]):
        for x in range(size[0]):
            v = (x * 37 + y * 11) % 256
            px[x, y] = v if mode in ("L",) else tuple((v + 85 * c) % 256 for c in range(len(mode)))
    return img


def save(folder, name, img, fmt, **kw):
    path = os.path.join(corpus, folder, name)
    img.save(path, fmt, **kw)
    with open(path, "rb") as f:
        data = f.read()
    with open(os.path.join(corpus, "any", f"{folder}-{name}"), "wb") as f:
        f.write(data)
    return path


sizes = [(1, 1), (3, 2), (17, 9), (130, 5)]
for w, h in sizes:
    for mode in ("L", "RGB"):
        img = chart(mode, (w, h))
        save("bmp", f"{mode}{w}x{h}.bmp", img, "BMP")
        save("jpeg", f"{mode}{w}x{h}.jpg", img, "JPEG", quality=75)
        save("jpeg", f"{mode}{w}x{h}-444.jpg", img, "JPEG", quality=90, subsampling=0)
        save("tiff", f"{mode}{w}x{h}.tif", img, "TIFF")
        save("tiff", f"{mode}{w}x{h}-be.tif", img, "TIFF", tiffinfo={}, big_endian=True) if False else None
    cmyk = chart("CMYK", (w, h))
    save("tiff", f"CMYK{w}x{h}.tif", cmyk, "TIFF")

# An Exif-bearing JPEG with an orientation and a thumbnail.
img = chart("RGB", (64, 48))
exif = Image.Exif()
exif[0x0112] = 6
exif[0x010F] = "Maker"
save("jpeg", "exif.jpg", img, "JPEG", exif=exif.tobytes())

# This project's own writers, for the formats this build can write.
src = os.path.join(corpus, "bmp", "RGB17x9.bmp")
for fmt, folder, ext in (("jpeg", "jpeg", "jpg"), ("tiff", "tiff", "tif"), ("fpx", "fpx", "fpx"),
                         ("fpx-jpeg", "fpx", "jpg.fpx"), ("bmp", "bmp", "own.bmp")):
    out = os.path.join(corpus, folder, f"own-{fmt}.{ext}")
    args = [tool, "convert", src, out, "--format", fmt]
    if fmt in ("jpeg", "tiff"):
        args.append("--thumbnail")
    subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    if os.path.exists(out) and os.path.getsize(out) == 0:
        os.remove(out)

# The other variants the readers take: progressive and multi-scan JPEG, Adobe RGB and CMYK
# JPEG; compressed, tiled, palette and bilevel TIFF; palette, run-length and bit-field BMP.
img = chart("RGB", (40, 24))
save("jpeg", "progressive.jpg", img, "JPEG", quality=80, progressive=True)
save("jpeg", "progressive-444.jpg", img, "JPEG", quality=90, progressive=True, subsampling=0)
save("jpeg", "cmyk.jpg", img.convert("CMYK"), "JPEG", quality=80)
save("jpeg", "grey-progressive.jpg", img.convert("L"), "JPEG", progressive=True)
for compression in ("tiff_lzw", "tiff_adobe_deflate", "packbits"):
    save("tiff", f"{compression}.tif", img, "TIFF", compression=compression)
save("tiff", "palette.tif", img.quantize(16), "TIFF")
save("tiff", "bilevel.tif", img.convert("1"), "TIFF")
save("tiff", "pages.tif", img, "TIFF", save_all=True, append_images=[img.convert("L")])
save("tiff", "lab8.tif", img.convert("LAB"), "TIFF")
save("tiff", "ycbcr.tif", img.convert("YCbCr"), "TIFF")
# The same samples declared 2 x 2 subsampled: the data units take the strip's first part.
save("tiff", "ycbcr-subsampled.tif", img.convert("YCbCr"), "TIFF", tiffinfo={530: (2, 2)})
save("bmp", "palette8.bmp", img.quantize(40), "BMP")
save("bmp", "palette1.bmp", img.convert("1"), "BMP")
for name, opts in (("rle8.bmp", ["-colors", "30", "-type", "palette", "-compress", "RLE", "BMP3:"]),
                   ("rle4.bmp", ["-colors", "9", "-type", "palette", "-depth", "4", "-compress", "RLE", "BMP3:"]),
                   ("rgb565.bmp", ["-define", "bmp:subtype=RGB565", ""]),
                   ("os2.bmp", ["BMP2:"])):
    out = os.path.join(corpus, "bmp", name)
    subprocess.run(["convert", os.path.join(corpus, "bmp", "RGB17x9.bmp")] + opts[:-1] + [opts[-1] + out],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


# Files from libtiff's and libjpeg's own tools for the paths they write differently:
# BigTIFF, JPEG-compressed grey, RGB, YCbCr and CMYK TIFF (strips and tiles), predictors at
# 16 bits, separate planes; progressive, restart-marked and multi-scan baseline JPEG.
def peer(folder, name, command):
    out = os.path.join(corpus, folder, name)
    subprocess.run(command + [out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    if os.path.exists(out) and os.path.getsize(out) > 0:
        with open(out, "rb") as f, open(os.path.join(corpus, "any", f"{folder}-{name}"), "wb") as g:
            g.write(f.read())


tiff = os.path.join(corpus, "tiff")
rgb, cmyk = os.path.join(tiff, "RGB17x9.tif"), os.path.join(tiff, "CMYK17x9.tif")
rgb40 = save("tiff", "RGB40x24.tif", chart("RGB", (40, 24)), "TIFF")
subprocess.run(["/usr/bin/convert", rgb, "-depth", "16", os.path.join(tiff, "rgb16.tif")],
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
rgb16 = os.path.join(tiff, "rgb16.tif")
for name, source, options in (
        ("big.tif", rgb, ["-8", "-c", "none"]),
        ("big-lzw2-be.tif", rgb16, ["-8", "-B", "-c", "lzw:2", "-r", "4"]),
        ("big-tiled-zip.tif", rgb, ["-8", "-c", "zip:2", "-t", "-w", "16", "-l", "16"]),
        ("big-cmyk-jpeg.tif", cmyk, ["-8", "-c", "jpeg", "-r", "8"]),
        ("lzw2-16.tif", rgb16, ["-c", "lzw:2"]),
        ("zip2-16-be.tif", rgb16, ["-B", "-c", "zip:2", "-r", "3"]),
        ("packbits-separate.tif", rgb, ["-c", "packbits", "-p", "separate"]),
        ("jpeg-ycbcr.tif", rgb40, ["-c", "jpeg", "-r", "16"]),
        ("jpeg-rgb-tiled.tif", rgb40, ["-c", "jpeg:r", "-t", "-w", "16", "-l", "16"]),
        ("jpeg-cmyk.tif", cmyk, ["-c", "jpeg", "-r", "8"]),
        ("jpeg-cmyk-tiled.tif", cmyk, ["-c", "jpeg", "-t", "-w", "16", "-l", "16"])):
    peer("tiff", name, ["tiffcp"] + options + [source])
ppm = os.path.join(corpus, "rgb.ppm")
chart("RGB", (40, 24)).save(ppm)
for name, options in (("cjpeg-progressive.jpg", ["-progressive"]), ("cjpeg-restart.jpg", ["-restart", "2"]),
                      ("cjpeg-411.jpg", ["-sample", "4x1,1x1,1x1"]), ("cjpeg-q100.jpg", ["-quality", "100"])):
    peer("jpeg", name, ["sh", "-c", f"cjpeg {' '.join(options)} {ppm} > \"$0\""])
scans = os.path.join(corpus, "scans.txt")
with open(scans, "w") as f:
    f.write("0;\n1 2;\n")
peer("jpeg", "jpegtran-scans.jpg", ["sh", "-c", f"jpegtran -scans {scans} {os.path.join(corpus, 'jpeg', 'RGB17x9.jpg')} > \"$0\""])
os.remove(ppm)
os.remove(scans)
