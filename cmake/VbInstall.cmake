# SPDX-License-Identifier: GPL-3.0-or-later
# Installation as a desktop application with a system service, and the Debian package.
#
# The application folder (host, both libraries, skins, configuration, translations and the
# filter service binary) lives under the library directory; the libraries find each other
# through $ORIGIN, so the folder works wherever it is copied. The command on the PATH is a
# relative symbolic link to the host, whose folder is the application folder.
include(GNUInstallDirs)

set(VB_APPDIR ${CMAKE_INSTALL_LIBDIR}/verdant-ball)
set(VB_FULL_APPDIR ${CMAKE_INSTALL_FULL_LIBDIR}/verdant-ball)
set(VB_COMMAND verdant-ball)
set(VB_FILTERD_PATH ${VB_FULL_APPDIR}/wfp/x64/filterd)
# Debian (bookworm) keeps system units in /lib/systemd/system; elsewhere they follow the prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_vb_unitdir_default /lib/systemd/system)
else()
  set(_vb_unitdir_default ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(VB_SYSTEMD_UNITDIR ${_vb_unitdir_default} CACHE PATH "Where the system service unit goes")
set(VB_FILTERD_CAPS
    "CAP_BPF CAP_NET_ADMIN CAP_SYS_ADMIN CAP_SYS_PTRACE CAP_CHOWN"
    CACHE STRING "Capability bounding set of the filter service")

set(_vb_pkg ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/pswfp.service.in ${_vb_pkg}/pswfp.service @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/verdant-ball.desktop.in
               ${_vb_pkg}/verdant-ball.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/verdant-ball-autostart.desktop.in
               ${_vb_pkg}/autostart/verdant-ball.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${_vb_pkg}/changelog @ONLY)

# The application folder.
install(TARGETS verdant-ball-host RUNTIME DESTINATION ${VB_APPDIR})
install(TARGETS vdshelper verdantball LIBRARY DESTINATION ${VB_APPDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS filterd RUNTIME DESTINATION ${VB_APPDIR}/wfp/x64)
set_target_properties(verdant-ball-host vdshelper verdantball PROPERTIES INSTALL_RPATH "$ORIGIN")
# Debian's hardening for what the package ships: relocations read-only and bound at load.
foreach(t verdant-ball-host vdshelper verdantball filterd)
  target_link_options(${t} PRIVATE -Wl,-z,relro,-z,now)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/host/pulsar.app DESTINATION ${VB_APPDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/BallSkins DESTINATION ${VB_APPDIR})
install(FILES ${CMAKE_BINARY_DIR}/src/lib/verdantball_de.qm DESTINATION ${VB_APPDIR}/translations)

# The command on the PATH.
file(RELATIVE_PATH _vb_link_target ${CMAKE_INSTALL_FULL_BINDIR} ${VB_FULL_APPDIR}/verdant-ball-host)
file(CREATE_LINK ${_vb_link_target} ${_vb_pkg}/${VB_COMMAND} SYMBOLIC)
install(FILES ${_vb_pkg}/${VB_COMMAND} DESTINATION ${CMAKE_INSTALL_BINDIR})

# Menu, autostart, icons, manual page.
install(FILES ${_vb_pkg}/verdant-ball.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_vb_pkg}/autostart/verdant-ball.desktop
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart)
set(_vb_icon_svg ${PROJECT_SOURCE_DIR}/tools/art/verdant-ball.svg)
install(FILES ${_vb_icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(VB_RSVG rsvg-convert REQUIRED)
set(_vb_icons)
foreach(size 16 22 24 32 48 64 128 256)
  set(png ${_vb_pkg}/icons/${size}x${size}/verdant-ball.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_vb_pkg}/icons/${size}x${size}
    COMMAND ${VB_RSVG} -w ${size} -h ${size} ${_vb_icon_svg} -o ${png}
    DEPENDS ${_vb_icon_svg} VERBATIM)
  list(APPEND _vb_icons ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
set(_vb_man ${_vb_pkg}/verdant-ball.1.gz)
set(_vb_changelog ${_vb_pkg}/changelog.gz)
# gzip -n: no name or time stamp, so the package is reproducible.
add_custom_command(OUTPUT ${_vb_man}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/verdant-ball.1 > ${_vb_man}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/verdant-ball.1)
add_custom_command(OUTPUT ${_vb_changelog}
  COMMAND gzip -9nc ${_vb_pkg}/changelog > ${_vb_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in)
add_custom_target(vb_install_data ALL DEPENDS ${_vb_icons} ${_vb_man} ${_vb_changelog})
install(FILES ${_vb_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${_vb_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/verdant-ball)

# The filter service.
install(FILES ${_vb_pkg}/pswfp.service DESTINATION ${VB_SYSTEMD_UNITDIR})
# The action the service asks polkit about before it releases memory for a user.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.verdantsuite.ball.release-memory.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)

# The Debian package: cpack -G DEB in the build folder. lintian reports no errors or warnings;
# its informational and pedantic tags are known: hardening-no-fortify-functions (the project
# builds with its own flags, not dpkg-buildflags), binary-has-unneeded-section .comment,
# package-supports-alternative-init-but-no-init.d-script (the service is a systemd unit only),
# image-file-in-usr-lib (skins belong to the application folder, where the ball looks for them)
# and a spelling tag on a string from the kernel's BPF type information inside filterd.
set(CPACK_PACKAGE_NAME verdant-ball)
set(CPACK_PACKAGE_VENDOR "Verdant Ball developers")
set(CPACK_PACKAGE_CONTACT "Verdant Ball developers <verdant-ball@example.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The private libraries of the application folder satisfy each other.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# deb-systemd-helper and deb-systemd-invoke in the maintainer scripts; Qt's QML modules are
# loaded at run time, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "init-system-helpers (>= 1.52), qml6-module-qtqml, qml6-module-qtquick, qml6-module-qtquick-window")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "floating boost ball with memory, CPU and network figures")
# CPack puts the summary first and indents these lines; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A small always-on-top ball for the desktop that shows the machine's memory
and CPU load, releases memory on a double click and opens a panel with
process boost lists and per-process network traffic, where an
administrator may block an application's traffic.

The traffic figures come from a system service (pswfp.service) that counts
every socket's bytes with cgroup BPF programs.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
