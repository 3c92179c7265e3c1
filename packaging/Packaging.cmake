# The Debian package: `cpack -G DEB` in the build tree, or scripts/package.sh.
# Its dependencies are what dpkg-shlibdeps finds in the binary plus what the program loads at
# run time: the Firebird client and its embedded engine, Qt's platform plugins and a font with
# Japanese glyphs.
include(GNUInstallDirs)

set(POSTWICK_VENDOR "Tollemark" CACHE STRING "Who publishes the program")
set(POSTWICK_MAINTAINER "Postwick maintainers <maintainers@postwick.invalid>"
  CACHE STRING "Maintainer of the package (name <address>)")
set(POSTWICK_HOMEPAGE "https://postwick.invalid/"
  CACHE STRING "Web site of the program, ending in /; its screenshots/ hold the software centre's pictures")

set(POSTWICK_PACKAGING_DIR ${PROJECT_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/postwick.metainfo.xml.in
  ${POSTWICK_PACKAGING_DIR}/postwick.metainfo.xml @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${POSTWICK_PACKAGING_DIR}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${POSTWICK_PACKAGING_DIR}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/postwick.1.in ${POSTWICK_PACKAGING_DIR}/postwick.1 @ONLY)

# Debian wants the change log and the manual page compressed, without a time stamp
find_program(GZIP gzip REQUIRED)
foreach(f changelog postwick.1)
  add_custom_command(OUTPUT ${POSTWICK_PACKAGING_DIR}/${f}.gz
    COMMAND ${GZIP} -9nkf ${POSTWICK_PACKAGING_DIR}/${f}
    DEPENDS ${POSTWICK_PACKAGING_DIR}/${f})
endforeach()
add_custom_target(postwick_packaging ALL
  DEPENDS ${POSTWICK_PACKAGING_DIR}/changelog.gz ${POSTWICK_PACKAGING_DIR}/postwick.1.gz)

install(FILES ${POSTWICK_PACKAGING_DIR}/postwick.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${POSTWICK_PACKAGING_DIR}/postwick.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${POSTWICK_PACKAGING_DIR}/copyright ${POSTWICK_PACKAGING_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/postwick)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME postwick)
set(CPACK_PACKAGE_VENDOR ${POSTWICK_VENDOR})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${POSTWICK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mass-mail sender with a recipient database")
# lines of at most 80 characters, as Debian's control file wants them
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Postwick keeps recipients in a local Firebird database file, imports them\n"
  "from CSV and Excel files, and sends every selected recipient a personalised\n"
  "copy of one mail through an SMTP server: placeholders replaced per recipient,\n"
  "sending paced in batches, failures retried, every outcome recorded and logged.\n"
  "Text and HTML mail from templates; Japanese mail in ISO-2022-JP and Shift_JIS;\n"
  "English and Japanese user interface.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# (the helper process of the HTML view, libqt6webenginecore6-bin, comes from the shlibs file)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libfbclient2, firebird3.0-server-core, qt6-qpa-plugins, fonts-ipafont-gothic | fonts-japanese-gothic")
# Japanese standard buttons and dialogs; the desktop's opener for the manual and the log
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
