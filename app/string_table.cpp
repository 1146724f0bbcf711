#include "string_table.h"

#include <map>

namespace orvax::app {

namespace {

const std::map<int, const char*>& Table() {
  static const std::map<int, const char*> table = {
      {IDR_MAINFRAME, "Orvax Scan 2.2"},
      {IDR_IMAGETYPE,
       "\nImage\nImage\nImage (*.bmp;*.jpg;*.tif;*.fpx)\n.BMP;*.JPG;*.TIF;*.FPX\nOrvaxScan.Document\nOrvax Scan 2.2 Document"},

      {IDS_MARKER_REGISTRY, "Registry: 1024-4094"},
      {IDS_REG_COMPANY, "Orvax"},
      {IDS_REG_PRODUCT, "Orvax Scan"},
      {IDS_REG_VERSION, "2.0"},
      {IDS_REG_GENERAL, "General"},
      {IDS_REG_AUTOFITWINDOW, "AutoFitWindow"},
      {IDS_REG_LASTDIRECTORY, "LastDirectory"},
      {IDS_REG_SAVEFORMAT, "SaveFormat"},
      {IDS_REG_WINDOWPOSCODE, "WindowPosCode"},
      {IDS_REG_WINDOWLEFT, "WindowLeft"},
      {IDS_REG_WINDOWTOP, "WindowTop"},
      {IDS_REG_WINDOWWIDTH, "WindowWidth"},
      {IDS_REG_WINDOWHEIGHT, "WindowHeight"},
      {IDS_REG_RECENTFILELIST, "Recent File List"},
      {IDS_REG_FILEENTRY, "File%d"},

      {IDS_MARKER_TWAIN, "Twain: 4096-8190"},
      {IDS_TW_VERSIONINFO, "2.2"},
      {IDS_TW_MANUFACTURER, "Orvax Corp."},
      {IDS_TW_PRODUCTFAMILY, "Kestrel Group"},
      {IDS_TW_PRODUCTNAME, "Orvax Scan 2.2 Application"},
      {IDS_TW_SOURCENAME, "Orvax Scan 2.2"},
      {IDS_TW_ERR_LOADDSM, "Could not load TWAIN_32.DLL."},
      {IDS_TW_ERR_INITDSM, "Could not initialize TWAIN_32.DLL"},
      {IDS_TW_ERR_OPENDS, "Could not open Orvax Scan 2.2 data source."},
      {IDS_TW_ERR_OPENDSM, "Could not open Twain Data Source Manager."},
      {IDS_TW_ERR_ENABLEDS, "Could not show the user interface for the Orvax Scan data source."},
      {IDS_TW_ERR_CLOSEDS, "Could not close Orvax Scan data source."},
      {IDS_TW_ERR_CLOSEDSM, "Could not close Twain Data Source Manager."},
      {IDS_TW_ERR_TRANSFER, "Error transferring image."},
      {IDS_DS_MODULENAME, "Orvax Scan.ds"},
      {IDS_DS_MODULEFOLDER, "TWAIN_32\\Orvax\\Orvax Scan 2.0\\"},
      {IDS_DS_ERR_LOADMODULE, "The file %1 could not be loaded."},

      {IDS_MARKER_OTHER, "Other: 16384-20478"},
      {IDS_PRINT_WARN_NOFIT, "Warning: The entire image will not fit on the page at this resolution."},
      {IDS_PRINT_WARN_EXCEEDS, "Warning: This exceeds the resolution of the printer."},
      {IDS_FORMAT_BMP, "BMP Format\n.bmp"},
      {IDS_FORMAT_FPX, "FlashPix Format\n.fpx"},
      {IDS_FORMAT_JPEG, "JPEG Format\n.jpg"},
      {IDS_FORMAT_TIFF, "TIFF Format\n.tif"},
      {IDS_OPT_JPEG, "JPEG Compression"},
      {IDS_OPT_LEVEL1, "Highest compression ratio"},
      {IDS_OPT_LEVEL2, "Good compression ratio"},
      {IDS_OPT_LEVEL3, "Good balance"},
      {IDS_OPT_LEVEL4, "Good quality"},
      {IDS_OPT_LEVEL5, "Excellent quality"},
      {IDS_OPT_FPX, "FlashPix Options"},
      {IDS_OPT_NOCOMPRESSION, "No compression"},
      {IDS_MENU_NONE, "None"},
      {IDS_MENU_EJECT, "Eject"},
      {IDS_MENU_NEXTSLIDE, "Next Slide"},
      {IDS_AUTOSAVE_PREFIX, "D%1_"},
      {IDS_WHY_STATUS, "Status code %1"},
      {IDS_WHY_SYSTEM_ERROR, "system error %1"},
      {IDS_WHY_NO_FILE, "The file does not exist."},
      {IDS_WHY_IS_FOLDER, "This is a folder, not a file."},
      {IDS_WHY_EMPTY, "The file is empty."},
      {IDS_WHY_NOT_READABLE, "Permission denied: you may not read this file."},
      {IDS_WHY_NOT_IMAGE,
       "It is not an image this program reads. Orvax Scan reads BMP, JPEG, TIFF and FlashPix files."},
      {IDS_WHY_JPEG_KIND,
       "It is a kind of JPEG this program does not read. Orvax Scan reads baseline, extended and progressive JPEG "
       "files with 8-bit samples, not arithmetic-coded, lossless or 12-bit ones."},
      {IDS_WHY_TRUNCATED, "The file ends early: it is truncated, or it was not written completely."},
      {IDS_WHY_READ_ERROR, "The file could not be read: the disk or the file system reported an error."},
      {IDS_WHY_DAMAGED, "The file is damaged: its structure is not what its format requires."},
      {IDS_WHY_DEPTH_COMPRESSION,
       "It uses a bit depth, a colour model or a compression this program does not read. Orvax Scan reads "
       "TIFF files of 1 to 16 bits per unsigned sample, uncompressed or compressed with LZW, Deflate, PackBits or "
       "JPEG; not fax compression or signed or floating-point samples."},
      {IDS_WHY_TIFF_COMPRESSION, "It uses a compression this program does not read."},
      {IDS_WHY_TIFF_FEATURE,
       "It uses a TIFF feature this program does not read, such as old-style JPEG compression or fax options."},
      {IDS_WHY_MULTIPAGE, "The file holds more than one image; this program reads files of one image."},
      {IDS_WHY_BMP_HEADER, "Its header is damaged, or the file is shorter than its header says."},
      {IDS_WHY_BMP_PALETTE, "Its colour palette has more entries than a BMP file can use."},
      {IDS_WHY_BMP_DEPTH, "Orvax Scan reads BMP files of 1, 4, 8, 16, 24 and 32 bits per pixel."},
      {IDS_WHY_BMP_COMPRESSED, "It uses a BMP compression this program does not read. Orvax Scan reads uncompressed, RLE and bit-field "
       "BMP files."},
      {IDS_WHY_FPX_COLOR, "It uses a FlashPix colour space this program does not read."},
      {IDS_WHY_FPX, "The FlashPix library could not handle the file."},
      {IDS_WHY_NO_MEMORY, "There is not enough memory for this image."},
      {IDS_WHY_CMS_OFF, "Its colour space needs the Orvax Color Management System, which is off."},
      {IDS_WHY_COLOR_SPACE, "Its colour space is not one this program can hold here."},
      {IDS_WHY_COLOR_MATCHING, "Colour matching failed. Check the profiles in the Preferences."},
      {IDS_WHY_PROFILE, "A colour profile could not be read. Check the profiles in the Preferences."},
      {IDS_WHY_NO_FOLDER, "The folder %1 does not exist."},
      {IDS_WHY_NOT_A_FOLDER, "%1 is a file, not a folder."},
      {IDS_WHY_NO_NEW_FILES, "The folder %1 does not take new files."},
      {IDS_WHY_NOT_WRITABLE, "Permission denied: you may not write in the folder %1."},
      {IDS_WHY_READ_ONLY, "The folder %1 is on a read-only file system."},
      {IDS_WHY_FOLDER_IN_WAY, "A folder of that name is in the way."},
      {IDS_WHY_NAME_TOO_LONG, "The file name is too long for the file system."},
      {IDS_WHY_DISK_FULL, "The disk is full."},
      {IDS_WHY_QUOTA, "Your disk quota is used up."},
      {IDS_WHY_WRITE_ERROR, "Writing to the disk failed: the disk or the file system reported an error."},
      {IDS_WHY_CANNOT_STORE, "This format cannot hold the image's colour space."},
      {IDS_WHY_NO_COMPRESSION, "This program does not write compressed TIFF files."},
      {IDS_WHY_NO_IMAGE, "The document holds no image."},
      {IDS_WHY_SYSTEM, "The system reported: %1."},
      {IDS_WHY_UNKNOWN, "The image library stopped with an error."},

      {IDS_MARKER_ERRORS, "Error Messages: 20480-????"},
      {IDS_ERR_LOADFILE, "Error loading file %1."},
      {IDS_ERR_SAVEFILE, "Error saving file %1."},
      {IDS_ERR_READFILE, "Error reading from file %1."},
      {IDS_ERR_WRITEFILE, "Error writing to file %1."},
      {IDS_ERR_FILETYPE, "The requested file type is not supported."},
      {IDS_ERR_DISKFULL, "Disk Full Error while writing to file %1."},
      {IDS_ERR_SAVEACQUIRING,
       "Data is currently being retrieved for this document.  Please wait until the acquisition is complete "
       "before trying to save."},
      {IDS_ERR_COPYNOTRGB,
       "This window does not contain 24-bit RGB data.  Only 24-bit RGB data can be copied to the clipboard."},
      {IDS_ERR_CLIPBOARD, "Unable to copy data to the clipboard."},
      {IDS_ERR_CLIPBOARDMEMORY, "Unable to allocate memory to copy data to the clipboard."},
      {IDS_ERR_TIFFLZW, "TIFF files with LZW compression are not supported."},
      {IDS_ERR_CLOSEACQUIRING,
       "Data is currently being retrieved for this document.  Please wait until the acquisition is complete "
       "before trying to close it."},
      {IDS_ERR_BITDEPTH, "This file uses a bit depth which is not supported by Orvax Scan."},
      {IDS_MSG_RECEIVING, "Image data is being received."},
      {IDS_ERR_CMSOFF,
       "This file cannot be opened when the Orvax Color Management System is off.  To open this file, open the "
       "Preferences and check the Orvax Color Management System box.  Then, restart the program and try to open "
       "the file again."},
      {IDS_ERR_HSLSAVE, "None of the file formats support HSL data. Please change the color space before saving."},
      {IDS_ASK_OTHERFORMAT,
       "The file format does not support the current color space. Do you want to save the file in another "
       "format?"},
      {IDS_ERR_PRINT, "Error printing %1: %2 (status %3). Nothing was printed."},
      {IDS_MSG_CMSRESTART,
       "The change to the Orvax Color Management System takes effect for %1 after the program is restarted and "
       "the file is opened again: the color space of the image cannot be shown the other way."},
      {IDS_PRINT_WHY_PROFILE,
       "the printer profile %1 cannot be used (it cannot be read, or it is not an RGB, CMYK or grayscale profile)"},
      {IDS_PRINT_WHY_MATCH, "the colors could not be matched to the printer profile %1"},
      {IDS_PRINT_WHY_MEMORY, "there is not enough memory"},
      {IDS_PRINT_WHY_DEVICE, "the printer refused the image"},
      {IDS_PRINT_WHY_OTHER, "the image library failed"},
      {IDS_PRINT_WHY_NOIMAGE, "the document holds no image"},
      {IDS_ERR_DISPLAYPROFILE,
       "The colors of %1 cannot be matched to the monitor profile %2 (it cannot be read or used). The image is "
       "shown as before."},

      {AFX_IDS_APP_TITLE, "Orvax Scan 2.2"},
      {AFX_IDS_IDLEMESSAGE, "Ready"},
      {AFX_IDS_OPENFILE, "Open"},
      {AFX_IDS_SAVEFILE, "Save As"},
      {AFX_IDS_ALLFILTER, "All Files (*.*)"},
      {AFX_IDS_UNTITLED, "Untitled"},
      {AFX_IDS_SAVEFILECOPY, "Save Copy As"},
      {AFX_IDP_ASK_TO_SAVE, "Save changes to %1?"},
      {AFX_IDP_PARSE_INT, "Please enter an integer."},
  };
  return table;
}

}  // namespace

QString LoadString(int id) {
  const auto& table = Table();
  auto it = table.find(id);
  return it == table.end() ? QString() : QString::fromUtf8(it->second);
}

bool HasString(int id) { return Table().count(id) != 0; }

QList<int> StringIds() {
  QList<int> ids;
  for (const auto& entry : Table()) ids.push_back(entry.first);
  return ids;
}

QString FormatString1(int id, const QString& arg) {
  QString text = LoadString(id);
  text.replace(QStringLiteral("%1"), arg);
  return text;
}

QString TemplateField(const QString& text, int index) {
  const QStringList fields = text.split(QLatin1Char('\n'));
  return index >= 0 && index < fields.size() ? fields[index] : QString();
}

}  // namespace orvax::app
