// The numbered texts of Orvax Scan. Every text the user sees comes from here, looked up by
// its number. The numbers are grouped in ranges, each opened by a marker text that names it.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace orvax::app {

enum StringId : int {
  IDR_MAINFRAME = 128,  // application title
  IDR_IMAGETYPE = 129,  // document template

  // Registry names: 1024-4094.
  IDS_MARKER_REGISTRY = 1023,
  IDS_REG_COMPANY = 1024,
  IDS_REG_PRODUCT = 1025,
  IDS_REG_VERSION = 1026,
  IDS_REG_GENERAL = 1040,
  IDS_REG_AUTOFITWINDOW = 1041,
  IDS_REG_LASTDIRECTORY = 1042,
  IDS_REG_SAVEFORMAT = 1043,
  IDS_REG_WINDOWPOSCODE = 1044,
  IDS_REG_WINDOWLEFT = 1045,
  IDS_REG_WINDOWTOP = 1046,
  IDS_REG_WINDOWWIDTH = 1047,
  IDS_REG_WINDOWHEIGHT = 1048,
  IDS_REG_RECENTFILELIST = 1072,
  IDS_REG_FILEENTRY = 1073,

  // TWAIN texts: 4096-8190.
  IDS_MARKER_TWAIN = 4095,
  IDS_TW_VERSIONINFO = 4096,
  IDS_TW_MANUFACTURER = 4097,
  IDS_TW_PRODUCTFAMILY = 4098,
  IDS_TW_PRODUCTNAME = 4099,
  IDS_TW_SOURCENAME = 4100,
  IDS_TW_ERR_LOADDSM = 4101,
  IDS_TW_ERR_INITDSM = 4102,
  IDS_TW_ERR_OPENDS = 4103,
  IDS_TW_ERR_OPENDSM = 4104,
  IDS_TW_ERR_ENABLEDS = 4105,
  IDS_TW_ERR_CLOSEDS = 4106,
  IDS_TW_ERR_CLOSEDSM = 4107,
  IDS_TW_ERR_TRANSFER = 4108,
  IDS_DS_MODULENAME = 8192,
  IDS_DS_MODULEFOLDER = 8193,
  IDS_DS_ERR_LOADMODULE = 8194,

  // Other texts: 16384-20478.
  IDS_MARKER_OTHER = 16383,
  IDS_PRINT_WARN_NOFIT = 16400,
  IDS_PRINT_WARN_EXCEEDS = 16401,
  IDS_FORMAT_BMP = 16417,
  IDS_FORMAT_FPX = 16418,
  IDS_FORMAT_JPEG = 16419,
  IDS_FORMAT_TIFF = 16420,
  IDS_OPT_JPEG = 16432,
  IDS_OPT_LEVEL1 = 16433,
  IDS_OPT_LEVEL2 = 16434,
  IDS_OPT_LEVEL3 = 16435,
  IDS_OPT_LEVEL4 = 16436,
  IDS_OPT_LEVEL5 = 16437,
  IDS_OPT_FPX = 16448,
  IDS_OPT_NOCOMPRESSION = 16449,
  IDS_MENU_NONE = 16464,
  IDS_MENU_EJECT = 16465,
  IDS_MENU_NEXTSLIDE = 16466,
  IDS_AUTOSAVE_PREFIX = 16496,

  // Error messages: 20480 upward.
  IDS_MARKER_ERRORS = 20479,
  IDS_ERR_LOADFILE = 20480,
  IDS_ERR_SAVEFILE = 20481,
  IDS_ERR_READFILE = 20482,
  IDS_ERR_WRITEFILE = 20483,
  IDS_ERR_FILETYPE = 20484,
  IDS_ERR_DISKFULL = 20485,
  IDS_ERR_SAVEACQUIRING = 20486,
  IDS_ERR_COPYNOTRGB = 20487,
  IDS_ERR_CLIPBOARD = 20488,
  IDS_ERR_CLIPBOARDMEMORY = 20489,
  IDS_ERR_TIFFLZW = 20490,
  IDS_ERR_CLOSEACQUIRING = 20491,
  IDS_ERR_BITDEPTH = 20492,
  IDS_MSG_RECEIVING = 20493,
  IDS_ERR_CMSOFF = 20494,
  IDS_ERR_HSLSAVE = 20495,
  IDS_ASK_OTHERFORMAT = 20496,
  IDS_ERR_PRINT = 20497,

  // The framework's own texts, at the framework's numbers.
  AFX_IDS_APP_TITLE = 57344,
  AFX_IDS_IDLEMESSAGE = 57345,
  AFX_IDS_OPENFILE = 61440,
  AFX_IDS_SAVEFILE = 61441,
  AFX_IDS_ALLFILTER = 61442,
  AFX_IDS_UNTITLED = 61443,
  AFX_IDS_SAVEFILECOPY = 61444,
  AFX_IDP_ASK_TO_SAVE = 61704,
  AFX_IDP_PARSE_INT = 61712,
};

// The text numbered ID, or an empty text when there is none.
QString LoadString(int id);

// True when ID names a text of the table.
bool HasString(int id);

// Every number of the table, ascending.
QList<int> StringIds();

// LoadString(ID) with each "%1" replaced by ARG, as AfxFormatString1 does.
QString FormatString1(int id, const QString& arg);

// A document-template string is several fields separated by '\n'; the field INDEX of it.
QString TemplateField(const QString& text, int index);

}  // namespace orvax::app
