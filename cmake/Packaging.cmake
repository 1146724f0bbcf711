# The Debian package (scripts/package.sh): everything the install rules lay out, under /usr,
# with the package dependencies computed from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvax-scan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvax Corp.")
set(CPACK_PACKAGE_CONTACT "Orvax Scan maintainers <orvax-scan@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "film scanner software: Orvax Scan, Larkspur, and the Tessera and Kroma libraries")
set(CPACK_PACKAGE_DESCRIPTION
  "Orvax Scan scans film through TWAIN and views, turns, converts, prints and saves the images as BMP,\n"
  "JPEG, TIFF and FlashPix. Larkspur moves the slide feeder. The package holds the Tessera image\n"
  "library and the Kroma colour-matching library with their headers, CMake and pkg-config files,\n"
  "the command-line tools tessera-tool and kroma-tool, and the Windows root beside the programs\n"
  "(the TWAIN manager, the data source with its virtual film scanner, the SCSI module, the profiles).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # orvax-scan_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The programs and modules find libtessera and libkroma in the package's own lib folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
include(CPack)
