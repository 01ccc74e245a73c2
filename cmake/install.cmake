# Installation as a desktop program (cmake --install) and the Debian package (cpack -G DEB).
#
#   bin/camsteer, camsteer_d, camsteer_replay
#   lib/camsteer/camsteer_programs.so     what camsteer and camsteer_replay load
#   share/camsteer/images/                 arrow pictures and sample reference pictures
#   lib/udev/rules.d/60-camsteer-uinput.rules
#   share/applications/camsteer.desktop    starts camsteer learning the object from the camera
#   share/icons/hicolor/scalable/apps/camsteer.svg
#   share/man/man1/camsteer.1.gz           camsteer_d.1.gz and camsteer_replay.1.gz link to it
#   share/doc/camsteer/copyright, changelog.gz
#   share/lintian/overrides/camsteer
#
# The programs find the pictures at <exe dir>/../share/camsteer/images, so the installed tree
# works under any prefix. The Debian package always installs under /usr.

# Folders the installation makes get 0755 whatever the builder's umask: a user-private group's
# umask 002 would otherwise ship group-writable /usr folders.
set(camsteer_folder_permissions OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${camsteer_folder_permissions})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${camsteer_folder_permissions})

set(camsteer_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(camsteer_packaging_out ${PROJECT_BINARY_DIR}/packaging)
set(camsteer_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/camsteer)
set(camsteer_man1_dir ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS camsteer camsteer_d camsteer_replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# What camsteer and camsteer_replay load (app/entry.cpp finds it from their folder).
install(TARGETS camsteer_programs LIBRARY DESTINATION lib/camsteer)

install(FILES
    images/arrow_back.bmp
    images/arrow_default.bmp
    images/arrow_down.bmp
    images/arrow_downleft.bmp
    images/arrow_downright.bmp
    images/arrow_forward.bmp
    images/arrow_left.bmp
    images/arrow_right.bmp
    images/arrow_up.bmp
    images/arrow_upleft.bmp
    images/arrow_upright.bmp
    images/sample_blue.png
    images/sample_red.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/camsteer/images)

# udev reads rules from /usr/lib/udev/rules.d as well as /lib/udev/rules.d; the prefix-relative
# path keeps the rule inside the install tree.
set(CAMSTEER_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the uinput udev rule goes, relative to the install prefix")
install(FILES ${camsteer_packaging_dir}/60-camsteer-uinput.rules
    DESTINATION ${CAMSTEER_UDEV_RULES_DIR})

# Why lintian's hardware-metadata hint does not apply to the rule (see the file).
install(FILES ${camsteer_packaging_dir}/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME camsteer)

install(FILES ${camsteer_packaging_dir}/camsteer.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The desktop entry names the installed program by absolute path. The prefix
# is only known at install time (cmake --install --prefix, or /usr for cpack), so the entry is
# written then, straight into the install tree.
set(camsteer_desktop_in ${camsteer_packaging_dir}/camsteer.desktop.in)
install(CODE "
    set(camsteer_bindir \"${CMAKE_INSTALL_BINDIR}\")
    set(camsteer_datadir \"${CMAKE_INSTALL_DATADIR}\")
    cmake_path(ABSOLUTE_PATH camsteer_bindir BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\"
        NORMALIZE OUTPUT_VARIABLE CAMSTEER_INSTALLED_BINDIR)
    cmake_path(ABSOLUTE_PATH camsteer_datadir BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\"
        NORMALIZE OUTPUT_VARIABLE CAMSTEER_INSTALLED_DATADIR)
    set(camsteer_desktop \"\$ENV{DESTDIR}\${CAMSTEER_INSTALLED_DATADIR}/applications/camsteer.desktop\")
    message(STATUS \"Installing: \${camsteer_desktop}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CAMSTEER_INSTALLED_DATADIR}/applications\")
    file(CHMOD \"\$ENV{DESTDIR}\${CAMSTEER_INSTALLED_DATADIR}/applications\"
        PERMISSIONS ${camsteer_folder_permissions})
    configure_file(\"${camsteer_desktop_in}\" \"\${camsteer_desktop}\" @ONLY)
    file(CHMOD \"\${camsteer_desktop}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${camsteer_desktop}\")
")

# Manual page and Debian changelog, compressed as Debian installs them (-n: no name or time
# stamp, so the same source gives the same file). The two other programs' pages are links.
set(camsteer_man_gz ${camsteer_packaging_out}/camsteer.1.gz)
set(camsteer_changelog_gz ${camsteer_packaging_out}/changelog.gz)
add_custom_command(OUTPUT ${camsteer_man_gz}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${camsteer_packaging_dir}/camsteer.1
            ${camsteer_man_gz}
    DEPENDS ${camsteer_packaging_dir}/camsteer.1
    VERBATIM)
add_custom_command(OUTPUT ${camsteer_changelog_gz}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${camsteer_packaging_dir}/changelog
            ${camsteer_changelog_gz}
    DEPENDS ${camsteer_packaging_dir}/changelog
    VERBATIM)
add_custom_target(camsteer_packaging_files ALL DEPENDS ${camsteer_man_gz} ${camsteer_changelog_gz})
file(MAKE_DIRECTORY ${camsteer_packaging_out})
foreach(page camsteer_d.1.gz camsteer_replay.1.gz)
    file(CREATE_LINK camsteer.1.gz ${camsteer_packaging_out}/${page} SYMBOLIC)
endforeach()
install(FILES ${camsteer_man_gz} ${camsteer_packaging_out}/camsteer_d.1.gz
    ${camsteer_packaging_out}/camsteer_replay.1.gz
    DESTINATION ${camsteer_man1_dir})
install(FILES ${camsteer_packaging_dir}/copyright ${camsteer_changelog_gz}
    DESTINATION ${camsteer_doc_dir})

# Debian package ---------------------------------------------------------------------------

set(CAMSTEER_DEB_MAINTAINER "camsteer developers <maintainers@camsteer.invalid>" CACHE STRING
    "Maintainer field of the Debian package")
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(STATUS "camsteer: the Debian package installs under /usr; configure with "
                   "-DCMAKE_INSTALL_PREFIX=/usr so the compiled-in data folder matches it")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME camsteer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CAMSTEER_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "steer programs with a coloured object held before a webcam")
# CPack puts the summary on the Description line itself; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "camsteer learns the colour of an object from a reference picture, finds the
object in every camera frame and turns where it is (a 3 x 3 grid) and how
near it is into arrow-key and keypad plus/minus presses for the focused
program. Keys are sent through XTest in an X11 session; under Wayland through
the compositor's virtual keyboard (sway and other wlroots compositors) or
KDE Plasma's fake input; and anywhere through a uinput virtual keyboard, for
which a udev rule gives the user at the local seat access to /dev/uinput.
.
Also included: camsteer_d, which tracks and shows the same but never sends
keys, and camsteer_replay, which plays a video clip instead of a camera.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${camsteer_packaging_dir}/debian/postinst ${camsteer_packaging_dir}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
