# Installation and the Debian package. The program folder is installed as one relocatable
# folder, ${prefix}/lib/quillon/ (/usr/lib/quillon/ in the package): the programs, libTallix.so,
# the Camera Link plug-in and CamDefine/, found by the programs beside themselves, and the
# marker quillon-installed that keeps the programs from writing into it. Commands on the PATH are relative links in ${prefix}/bin/. The simulated Camera Link libraries and the
# camera simulator are development tools and are not installed.
# A build without the UI (QUILLON_BUILD_UI=OFF: sanitizer and fuzz builds) installs nothing.
if(NOT QUILLON_BUILD_UI)
    return()
endif()

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging)

quillon_install_program(Quillon COMMAND quillon)
# The command-line tool with its manual page (its CMakeLists may also call this).
quillon_install_program(quillon-cli)
install(FILES ${PROJECT_SOURCE_DIR}/docs/quillon-cli.1 DESTINATION share/man/man1
        COMPONENT quillon)
# The protocol of quillon-cli serve, which the manual page names.
install(FILES ${PROJECT_SOURCE_DIR}/docs/serve-protocol.md DESTINATION share/doc/quillon
        COMPONENT quillon)
install(TARGETS Tallix LIBRARY DESTINATION ${QUILLON_INSTALL_DIR} COMPONENT quillon)
install(TARGETS Pivra02CL LIBRARY DESTINATION ${QUILLON_INSTALL_DIR} COMPONENT quillon)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/CamDefine DESTINATION ${QUILLON_INSTALL_DIR}
        COMPONENT quillon)
# The mark of an installed program folder: the programs never write into a folder that holds
# it, whoever runs them (platform/DataFolders.h). A build folder has none and stays portable.
install(FILES ${pkg_src}/quillon-installed DESTINATION ${QUILLON_INSTALL_DIR} COMPONENT quillon)

# The Python package, where Debian's python3 finds it (/usr/lib/python3/dist-packages/quillon);
# only the sources: python3 byte-compiles them where it may write, and the package's prerm
# removes what it left there.
set(QUILLON_PYTHON_DIR lib/python3/dist-packages CACHE STRING
    "Folder below the prefix the Python package quillon is installed into")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/quillon DESTINATION ${QUILLON_PYTHON_DIR}
        COMPONENT quillon FILES_MATCHING PATTERN "*.py" PATTERN "py.typed"
        PATTERN "__pycache__" EXCLUDE)

# Desktop entry, AppStream metainfo and icon, all named by the application id (which the
# program also gives Qt as its desktop file name).
configure_file(${pkg_src}/${QUILLON_APP_ID}.metainfo.xml
               ${CMAKE_BINARY_DIR}/packaging/${QUILLON_APP_ID}.metainfo.xml @ONLY)
install(FILES ${pkg_src}/${QUILLON_APP_ID}.desktop DESTINATION share/applications
        COMPONENT quillon)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${QUILLON_APP_ID}.metainfo.xml
        DESTINATION share/metainfo COMPONENT quillon)
install(FILES ${pkg_src}/${QUILLON_APP_ID}.svg DESTINATION share/icons/hicolor/scalable/apps
        COMPONENT quillon)
# An example udev rule that keeps ModemManager off a camera's serial adapter: an example only,
# never put into /etc/udev by the package.
install(FILES ${PROJECT_SOURCE_DIR}/docs/udev/70-quillon-serial.rules
        DESTINATION share/doc/quillon/examples COMPONENT quillon)

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillon developers <quillon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program for industrial cameras (TARN protocol)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillon controls industrial cameras over the TARN serial text protocol, through a serial\n\
port or a Camera Link frame grabber, from camera definition files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENTS_ALL quillon)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds libTallix.so in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${QUILLON_BIN_DIR})
# Qt loads its platform plug-in at run time, which shlibdeps cannot see; without it the program
# does not start. The Japanese texts of Qt's own dialogs come from the translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# The Python package quillon needs a python3; the programs do not.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3")
set(CPACK_STRIP_FILES ON)
# Before removal: the byte-compiled files python3 left beside the package's Python sources.
configure_file(${pkg_src}/prerm.in ${CMAKE_BINARY_DIR}/packaging/prerm @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/prerm)
include(CPack)
