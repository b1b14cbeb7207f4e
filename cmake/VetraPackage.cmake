# The Debian package of the whole system, made by cpack from this tree's
# install (scripts/package configures a tree with CMAKE_INSTALL_PREFIX=/usr and
# the built system data). Its files: the addon library and both addon .conf
# files in fcitx's directories, the system data, the message catalogue, the
# package version file, and the copyright and changelog under /usr/share/doc.

include(GNUInstallDirs)

# A tree that tests another tree's built data packages those files too.
if(VETRA_DATA_BUILD_DIR AND NOT VETRA_BUILD_DATA)
  install(DIRECTORY "${VETRA_DATA_BUILD_DIR}/data/VetraInput/" DESTINATION ${VETRA_SYSTEM_DATA_DIR})
endif()

set(doc_dir "${CMAKE_INSTALL_DATADIR}/doc/fcitx-vetrapinyin")
install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" DESTINATION "${doc_dir}")
# Debian wants the changelog compressed, reproducibly (no name, no time).
set(changelog_gz "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
add_custom_command(OUTPUT "${changelog_gz}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/packaging"
  COMMAND gzip -9nc "${PROJECT_SOURCE_DIR}/packaging/changelog" > "${changelog_gz}"
  DEPENDS "${PROJECT_SOURCE_DIR}/packaging/changelog")
add_custom_target(vetra_changelog ALL DEPENDS "${changelog_gz}")
install(FILES "${changelog_gz}" DESTINATION "${doc_dir}")

set(CPACK_GENERATOR DEB)
# One package of every component but the kernel library's (see
# VetraKernelLibrary.cmake).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_PACKAGE_NAME fcitx-vetrapinyin)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")   # GPL-2.0-or-later
set(CPACK_PACKAGE_CONTACT "Vetra Pinyin developers <vetra-pinyin@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")   # where the library looks
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fcitx-bin, fcitx-module-dbus")
# cpack indents the lines after the first and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Chinese pinyin input method for fcitx 4
Vetra Pinyin converts typed pinyin into ranked Chinese words and phrases,
learns the words the user commits into a user dictionary, and offers
special candidates: numbers and amounts in Chinese, dates and a calculator
for input led by v, the current date and time, and English words.

The candidate window is drawn by a separate panel program, which is not
part of this package.")
include(CPack)
