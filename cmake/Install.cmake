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

foreach(lib tessera kroma)
  if(NOT TARGET ${lib})
    continue()
  endif()
  if(lib STREQUAL "tessera")
    set(ORVAX_PC_NAME "Tessera")
    set(ORVAX_PC_DESCRIPTION "Tessera image library: tiled images, BMP, JPEG, TIFF and FlashPix, display")
    set(ORVAX_PC_CFLAGS "-I\${includedir}")
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/tessera/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
      FILES_MATCHING PATTERN "*.h")
    # Tessera's public header draws on the platform's device context header.
    install(FILES ${CMAKE_SOURCE_DIR}/platform/win/gdi.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/win)
  else()
    set(ORVAX_PC_NAME "Kroma")
    set(ORVAX_PC_DESCRIPTION "Kroma colour matching between ICC profiles")
    set(ORVAX_PC_CFLAGS "-I\${includedir}")
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/kroma/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
      FILES_MATCHING PATTERN "*.h")
  endif()
  install(TARGETS ${lib}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A package file that describes the installed library as an imported target.
  file(WRITE ${CMAKE_BINARY_DIR}/install/${ORVAX_PC_NAME}Config.cmake
    "get_filename_component(_orvax_prefix \"\${CMAKE_CURRENT_LIST_DIR}/../../..\" ABSOLUTE)\n"
    "if(NOT TARGET Orvax::${lib})\n"
    "  add_library(Orvax::${lib} SHARED IMPORTED)\n"
    "  set_target_properties(Orvax::${lib} PROPERTIES\n"
    "    IMPORTED_LOCATION \"\${_orvax_prefix}/${CMAKE_INSTALL_LIBDIR}/lib${lib}.so\"\n"
    "    INTERFACE_INCLUDE_DIRECTORIES \"\${_orvax_prefix}/${CMAKE_INSTALL_INCLUDEDIR}\")\n"
    "endif()\n")
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/${ORVAX_PC_NAME}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/install/${ORVAX_PC_NAME}Config.cmake
    ${CMAKE_BINARY_DIR}/install/${ORVAX_PC_NAME}ConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/${ORVAX_PC_NAME})
  file(WRITE ${CMAKE_BINARY_DIR}/install/${lib}.pc
    "prefix=${CMAKE_INSTALL_PREFIX}\nexec_prefix=\${prefix}\nlibdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}\n\nName: ${ORVAX_PC_NAME}\n"
    "Description: ${ORVAX_PC_DESCRIPTION}\nVersion: ${PROJECT_VERSION}\n"
    "Libs: -L\${libdir} -l${lib}\nCflags: ${ORVAX_PC_CFLAGS}\n")
  install(FILES ${CMAKE_BINARY_DIR}/install/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# Programs built elsewhere in the tree.
foreach(program larkspur tessera-tool kroma-tool)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN;$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
