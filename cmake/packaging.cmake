# Installation of the Linux build (library, headers, kvkread, ctsim, man pages), the CMake
# package and pkg-config file for hosts, and the .deb through CPack. The example program is built
# against the installed tree only (tests/packaging), as a host would build it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QZ_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/packaging)

# Include directories work both in this tree (src/ and include/) and installed (<prefix>/include
# for <qzcardreader/qzcardreader.h>, <prefix>/include/qzcardreader for the headers' own
# "app/...", "kvk/..." includes).
set_property(TARGET qzcardreader PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>"
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/qzcardreader>")

# Installed programs find the library relative to themselves, wherever the prefix is.
file(RELATIVE_PATH QZ_BIN_TO_LIB /qz/${CMAKE_INSTALL_BINDIR} /qz/${CMAKE_INSTALL_LIBDIR})
set_target_properties(ctsim kvkread PROPERTIES INSTALL_RPATH "$ORIGIN/${QZ_BIN_TO_LIB}")

install(TARGETS qzcardreader EXPORT qzCardReaderTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ctsim kvkread RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Headers: the host's API only (the object, the record, the enumerations, the error, the ports),
# with their folders kept; everything else stays inside the library.
install(FILES ${PROJECT_SOURCE_DIR}/include/qzcardreader/qzcardreader.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qzcardreader)
foreach(header app/cls_application.h app/enums.h app/ports_posix.h base/automation_error.h
               kvk/kvk_data.h)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qzcardreader/${folder})
endforeach()

# The CMake package.
set(QZ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qzCardReader)
install(EXPORT qzCardReaderTargets NAMESPACE qzCardReader:: DESTINATION ${QZ_CMAKE_DIR})
configure_package_config_file(${QZ_PACKAGING_DIR}/qzCardReaderConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/qzCardReaderConfig.cmake INSTALL_DESTINATION ${QZ_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/qzCardReaderConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/qzCardReaderConfig.cmake
  ${CMAKE_BINARY_DIR}/packaging/qzCardReaderConfigVersion.cmake DESTINATION ${QZ_CMAKE_DIR})

# The pkg-config file, relocatable: the prefix is found from the file's own place.
file(RELATIVE_PATH QZ_PC_TO_PREFIX /qz/${CMAKE_INSTALL_LIBDIR}/pkgconfig /qz)
set(QZ_PC_LIBS_PRIVATE "")
foreach(lib ${CMAKE_DL_LIBS})
  string(APPEND QZ_PC_LIBS_PRIVATE " -l${lib}")
endforeach()
string(STRIP "${QZ_PC_LIBS_PRIVATE}" QZ_PC_LIBS_PRIVATE)
configure_file(${QZ_PACKAGING_DIR}/qzcardreader.pc.in ${CMAKE_BINARY_DIR}/packaging/qzcardreader.pc
  @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/qzcardreader.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Man pages, made from the programs' --help.
find_program(QZ_HELP2MAN help2man)
set(QZ_MAN_PAGES "")
if(QZ_HELP2MAN)
  set(QZ_MAN_kvkread "read a German health-insurance card (KVK) from a card terminal")
  set(QZ_MAN_ctsim "simulated KVK card terminal on a pseudo-terminal")
  foreach(tool kvkread ctsim)
    set(page ${CMAKE_BINARY_DIR}/man/${tool}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${QZ_HELP2MAN} --no-info --no-discard-stderr
              --version-string=${PROJECT_VERSION} --name=${QZ_MAN_${tool}}
              --output=${page} $<TARGET_FILE:${tool}>
      DEPENDS ${tool} VERBATIM)
    list(APPEND QZ_MAN_PAGES ${page})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${QZ_MAN_PAGES})
  install(FILES ${QZ_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no man pages (scripts/deps.sh native installs it)")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/deb.cmake)
