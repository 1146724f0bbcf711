#include "status_text.h"

#include <cstddef>

namespace orvax::tools {

namespace {

struct Entry {
  long code;
  const char* text;
};

constexpr Entry kTessera[] = {
    {0, "success"},
    {1000, "no image (or a part of it is missing)"},
    {1001, "the image information record has the wrong size"},
    {1002, "not enough memory"},
    {1005, "unknown colour space"},
    {1006, "no such channel for the look-up table"},
    {1007, "the point lies outside the image"},
    {1008, "the colour-matching library refused the transform (check the profiles)"},
    {1009, "the colour transform could not be rebuilt"},
    {1010, "the colour look-up table could not be made"},
    {1011, "colour matching failed while converting pixels"},
    {1012, "this colour space needs a colour-managed object"},
    {1013, "not an image file this library reads"},
    {1014, "the file holds no thumbnail"},
    {1015, "this colour space cannot be stored in the chosen format"},
    {1016, "the device refused to draw"},
    {1017, "a colour profile cannot be opened"},
    {1018, "a colour profile has a wrong length"},
    {1019, "a colour profile cannot be read"},
    {1100, "the file cannot be opened for reading (missing, or no permission)"},
    {1101, "the file could not be closed after reading"},
    {1102, "reading the file failed"},
    {1103, "the file ends too early (truncated)"},
    {1104, "seeking in the file failed"},
    {1105, "the position in the file cannot be told"},
    {1200, "the output file cannot be created (folder missing, or no permission)"},
    {1201, "the output file could not be closed (data may not have reached the disk)"},
    {1202, "writing the output file failed"},
    {1203, "seeking in the output file failed"},
    {1204, "the disk is full"},
    {1301, "damaged JPEG: a marker was expected"},
    {1302, "JPEG marker not supported"},
    {1303, "damaged JPEG application segment"},
    {1304, "damaged JPEG comment"},
    {1305, "damaged JPEG: restart marker outside a scan"},
    {1306, "damaged JPEG: end of image before the image"},
    {1307, "damaged JPEG restart interval"},
    {1308, "damaged JPEG quantisation table"},
    {1309, "too many JPEG quantisation tables"},
    {1310, "JPEG quantisation precision not supported"},
    {1311, "damaged JPEG Huffman table"},
    {1312, "too many JPEG Huffman tables"},
    {1313, "damaged JPEG frame header"},
    {1314, "JPEG sample precision not supported"},
    {1315, "too many JPEG components"},
    {1316, "damaged JPEG scan header"},
    {1317, "damaged JPEG: scan before the frame header"},
    {1318, "JPEG scan kind not supported (progressive or lossless)"},
    {1319, "damaged JPEG: scan names an unknown component"},
    {1320, "damaged JPEG: quantisation table missing"},
    {1321, "damaged JPEG: Huffman table missing"},
    {1322, "damaged JPEG: restart marker missing"},
    {1323, "JPEG without the application segment this library needs"},
    {1403, "damaged TIFF: empty directory"},
    {1404, "TIFF with more than one image"},
    {1405, "damaged TIFF: zero or out-of-range size"},
    {1406, "TIFF sample layout, photometric interpretation or compression not supported"},
    {1407, "damaged TIFF: sample or strip counts do not fit"},
    {1408, "damaged TIFF: no strips"},
    {1409, "damaged TIFF: bad field value"},
    {1410, "damaged TIFF: bad field count"},
    {1411, "damaged TIFF: bad field type"},
    {1412, "TIFF feature not supported (tiles, fax, colour map, old JPEG or YCbCr)"},
    {1415, "damaged TIFF maker block"},
    {1416, "compressed TIFF not supported"},
    {1500, "damaged BMP header, or a palette that is not a grey ramp"},
    {1501, "BMP colour count not supported"},
    {1502, "BMP bit depth not supported"},
    {1503, "compressed BMP not supported"},
    {1600, "FlashPix colour space not supported"},
    {1601, "FlashPix library error"},
    {1602, "unknown FlashPix error"},
};

constexpr Entry kKroma[] = {
    {0, "success"},
    {1000, "not enough memory"},
    {1001, "matching in place is impossible for these depths and channels"},
    {1002, "the source buffer is smaller than its lines need"},
    {2020, "input bits must be 8, 10, 12 or 16"},
    {2021, "output bits must be 8 or 16"},
    {2030, "unknown buffer layout"},
    {2040, "the engine must be 0 or 1"},
    {2050, "the rendering intent must be 0 to 3"},
    {3000, "the profile cannot be opened or its header read"},
    {3001, "not an ICC profile"},
    {5000, "no transform can be built from these profiles"},
    {5001, "invalid argument"},
};

template <size_t N>
const char* Find(const Entry (&table)[N], long status) {
  for (const Entry& e : table)
    if (e.code == status) return e.text;
  return nullptr;
}

}  // namespace

const char* TesseraStatusText(long status) {
  if (const char* text = Find(kTessera, status)) return text;
  if (status >= 1300 && status <= 1399) return "JPEG file error";
  if (status >= 1400 && status <= 1499) return "TIFF file error";
  if (status >= 1500 && status <= 1599) return "BMP file error";
  if (status >= 1600 && status <= 1699) return "FlashPix file error";
  return "unknown status";
}

const char* KromaStatusText(long status) {
  if (const char* text = Find(kKroma, status)) return text;
  return "unknown status";
}

std::string TesseraStatusLine(long status) {
  return "status=" + std::to_string(status) + ": " + TesseraStatusText(status);
}

std::string KromaStatusLine(long status) {
  return "status=" + std::to_string(status) + ": " + KromaStatusText(status);
}

}  // namespace orvax::tools
