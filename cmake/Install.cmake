# Installing: the programs and libraries, the Windows root with its modules and profiles, and
# the Tessera and Kroma headers with CMake package files and pkg-config files, so that other
# programs can build against the libraries.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVAX_INSTALL_WINDOWS_DIR ${CMAKE_INSTALL_BINDIR}/windows)  # found beside the programs

# The Windows root as the build laid it out: TWAIN_32 with the data source and driver
# modules, SYSTEM/COLOR with the profiles.
install(DIRECTORY ${ORVAX_WINDOWS_ROOT}/ DESTINATION ${ORVAX_INSTALL_WINDOWS_DIR}
  USE_SOURCE_PERMISSIONS
  PATTERN "EventProbe.DLL" EXCLUDE  # a test module
  PATTERN "*.DLL" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The libraries: one export set of namespaced targets, found as the packages Tessera and
# Kroma (find_package(Tessera) gives Orvax::tessera), and a pkg-config file each.
set(ORVAX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake)
file(RELATIVE_PATH ORVAX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ORVAX_PC_TO_PREFIX "${ORVAX_PC_TO_PREFIX}")
set(ORVAX_EXPORTED "")
foreach(lib kroma tessera)
  if(NOT TARGET ${lib})
    continue()
  endif()
  list(APPEND ORVAX_EXPORTED ${lib})
  set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${lib} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${lib} EXPORT OrvaxTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${lib}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.h")

  if(lib STREQUAL "tessera")
    set(ORVAX_PACKAGE Tessera)
    # Tessera's public header draws into the platform's device contexts; the memory
    # context it declares is built into the library.
    install(FILES ${PROJECT_SOURCE_DIR}/platform/win/include/win/gdi.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/win)
  else()
    set(ORVAX_PACKAGE Kroma)
  endif()
  set(ORVAX_TARGET ${lib})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PackageConfig.cmake.in
    ${CMAKE_BINARY_DIR}/install/${ORVAX_PACKAGE}Config.cmake
    INSTALL_DESTINATION ${ORVAX_CMAKE_DIR}/${ORVAX_PACKAGE})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/${ORVAX_PACKAGE}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/install/${ORVAX_PACKAGE}Config.cmake
    ${CMAKE_BINARY_DIR}/install/${ORVAX_PACKAGE}ConfigVersion.cmake
    DESTINATION ${ORVAX_CMAKE_DIR}/${ORVAX_PACKAGE})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${lib}.pc.in ${CMAKE_BINARY_DIR}/install/${lib}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/install/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
if(ORVAX_EXPORTED)
  install(EXPORT OrvaxTargets NAMESPACE Orvax:: DESTINATION ${ORVAX_CMAKE_DIR}/Orvax)
endif()

# Programs built elsewhere in the tree.
foreach(program larkspur tessera-tool kroma-tool)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN;$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Manual pages, compressed as Debian's policy asks (man reads them so everywhere).
find_program(ORVAX_GZIP gzip REQUIRED)
set(ORVAX_MAN_PAGES "")
foreach(page orvax-scan.1 larkspur.1 tessera-tool.1 kroma-tool.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${ORVAX_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/doc/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/man/${page}
    VERBATIM)
  list(APPEND ORVAX_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(orvax_man_pages ALL DEPENDS ${ORVAX_MAN_PAGES})
install(FILES ${ORVAX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# A program outside the tree builds against the installed libraries (find_package and
# pkg-config), opens a file, draws it into a memory context and checks a pixel.
if(ORVAX_BUILD_TESTS AND NOT ORVAX_SANITIZE AND TARGET tessera AND TARGET kroma)
  add_test(NAME InstalledLibraries.ConsumersBuildAndRun
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/consumers_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/tests/install)
  set_tests_properties(InstalledLibraries.ConsumersBuildAndRun PROPERTIES LABELS unit TIMEOUT 300)
endif()

# The Debian package builds, and the programs start from it unpacked.
if(ORVAX_BUILD_TESTS AND NOT ORVAX_SANITIZE AND TARGET orvax-scan AND TARGET larkspur)
  add_test(NAME DebianPackage.BuildsAndRunsUnpacked
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/package_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
  set_tests_properties(DebianPackage.BuildsAndRunsUnpacked PROPERTIES LABELS app TIMEOUT 600)
endif()
