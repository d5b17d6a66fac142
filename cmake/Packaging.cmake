# Debian package of the tool, made by CPack from the install rules:
#
#   cmake --build build && (cd build && cpack)      ->  build/k410-bios_1.00_amd64.deb
#
# The package holds what `cmake --install` puts under the prefix: k410-bios and
# k410-sim in /usr/bin, the menu entry and the hicolor icons. It needs no
# maintainer scripts: the icon cache and the desktop database are refreshed by
# the dpkg triggers of hicolor-icon-theme and desktop-file-utils.

# The maker, read from the application's own identity so there is one place to change it.
set(k410_maker "")
file(STRINGS ${PROJECT_SOURCE_DIR}/app/AppIdentity.h k410_maker_line REGEX "kCompanyName = QStringLiteral")
if(k410_maker_line MATCHES "QStringLiteral\\(\"([^\"]+)\"\\)")
    set(k410_maker "${CMAKE_MATCH_1}")
else()
    message(FATAL_ERROR "Packaging: the maker's name was not found in app/AppIdentity.h")
endif()

# Debian's documentation of the package: the copyright file and the changelog
# (a native package: changelog.gz, compressed with gzip -9n).
set(k410_docdir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${k410_docdir})
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${K410_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
    VERBATIM)
add_custom_target(debian-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${k410_docdir})

# The installed programs link only system libraries: no run-time search path
# pointing next to them (Qt's project set-up adds $ORIGIN/../lib).
set_target_properties(k410-bios k410-sim PROPERTIES INSTALL_RPATH "")

# Directories in the package are created 0755 whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${k410_maker}")
set(CPACK_PACKAGE_CONTACT "${k410_maker} <service@ventrisa.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade tool for the K410 presetter")
set(CPACK_PACKAGE_DESCRIPTION
    "Walks a service technician through replacing the firmware (the Bios) of
a K410 presetter over a three-wire RS-232 cable, in French, German, English or
Italian: it finds the serial port on which the unit answers, saves the unit's
current firmware to a .bak file, checks a new .bio image, erases the unit and
writes the image while a progress bar shows how far it got.

Also contains k410-sim, a simulated unit on a pseudo-terminal for training and
testing without hardware.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # k410-bios_1.00_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# Library dependencies (the Qt 6 runtime) come from dpkg-shlibdeps (dpkg-dev);
# the desktop's native Wayland plugin is welcome but the X11 one suffices.
find_program(K410_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(K410_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6serialport6 (>= 6.4), libqt6svg6 (>= 6.4), libc6, libstdc++6")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The source package is not used; keep build trees out of it all the same.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
