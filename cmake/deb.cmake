# The Debian package (cpack -G DEB in the build directory): library, headers, CMake and
# pkg-config files, kvkread, ctsim and their man pages, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qzcardreader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "qzCardReader developers")
set(CPACK_PACKAGE_CONTACT "qzCardReader developers <qzcardreader@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "German health-insurance card (KVK) reader library, kvkread and a simulated terminal")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 libqzcardreader reads the Krankenversichertenkarte from a card terminal on a
 serial port (block protocol T=1) or from a keyboard with a card reader, and
 hands the host the card holder's data. kvkread reads a card from the command
 line; ctsim simulates a terminal on a pseudo-terminal for tests without
 hardware (try: kvkread --simulate).
 .
 Access to the serial device: users who read cards must be allowed to open the
 terminal's device, usually by membership in the dialout group
 (sudo usermod -aG dialout USER, then log in again). The error log
 libqzcardreader.err beside the library is writable by that group.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")

# Maintainer scripts: the error log file (group-writable for dialout) and ldconfig.
set(QZ_DEB_ERROR_LOG ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libqzcardreader.err)
foreach(script postinst postrm)
  configure_file(${QZ_PACKAGING_DIR}/${script}.in ${CMAKE_BINARY_DIR}/packaging/deb/${script}
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/deb/postinst ${CMAKE_BINARY_DIR}/packaging/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
