# Install layout and the Debian package. Included at the end of the top-level CMakeLists.txt,
# after every add_subdirectory, so that both executables are known here.
include(GNUInstallDirs)

# Installing and packaging take what is already built: `make package` builds first, and the
# packaging test must not start a build of the whole tree in the middle of a test run.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VELTRANE_APP_ID co.brimfold.VeltraneRecorder)

install(TARGETS veltrane-recorder veltrane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/data/${VELTRANE_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/ui/resources/veltrane-recorder.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VELTRANE_APP_ID}.svg)
install(FILES ${PROJECT_SOURCE_DIR}/data/${VELTRANE_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# What Debian asks of every package: the copyright with the licence, the changelog (gzipped) and
# a manual page per program, generated from its --help and --version (with the sections --help
# does not tell, from data/debian/<program>.h2m).
set(docDir ${CMAKE_INSTALL_DATADIR}/doc/veltrane-recorder)
file(STRINGS ${PROJECT_SOURCE_DIR}/data/debian/changelog changelogTop LIMIT_COUNT 1)
if(NOT changelogTop MATCHES "^veltrane-recorder \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "data/debian/changelog does not start with an entry for ${PROJECT_VERSION}")
endif()
set(generatedDocs ${CMAKE_BINARY_DIR}/debian-docs)
add_custom_command(OUTPUT ${generatedDocs}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generatedDocs}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${generatedDocs}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog)
set(manualPages "")
find_program(HELP2MAN help2man)
if(HELP2MAN)
    set(veltrane-recorder_summary "record meeting audio and upload it to the team's server")
    set(veltrane-cli_summary "record meeting audio and manage its uploads from the command line")
    foreach(program veltrane-recorder veltrane-cli)
        add_custom_command(OUTPUT ${generatedDocs}/${program}.1.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${generatedDocs}
            COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1 --name ${${program}_summary}
                    --include ${PROJECT_SOURCE_DIR}/data/debian/${program}.h2m
                    --output ${generatedDocs}/${program}.1 $<TARGET_FILE:${program}>
            COMMAND gzip -9nf ${generatedDocs}/${program}.1
            DEPENDS ${program} ${PROJECT_SOURCE_DIR}/data/debian/${program}.h2m VERBATIM)
        list(APPEND manualPages ${generatedDocs}/${program}.1.gz)
    endforeach()
    install(FILES ${manualPages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "help2man not found (scripts/install-deps.sh installs it): no manual pages")
endif()
add_custom_target(debian_docs ALL DEPENDS ${generatedDocs}/changelog.gz ${manualPages})
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${generatedDocs}/changelog.gz DESTINATION ${docDir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrane-recorder)
set(CPACK_PACKAGE_VENDOR Veltrane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Veltrane <packages@brimfold.co>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Records meeting audio and uploads it to the team's server")
set(CPACK_PACKAGE_DESCRIPTION
    "VeltraneRecorder records the sound of an output device or of one application,\n"
    "optionally together with a microphone, into five-minute WAV or M4A chunks in a\n"
    "chosen folder, and uploads every chunk through a persistent, retrying queue to\n"
    "the team's server under the chosen project and meeting. veltrane-cli offers the\n"
    "same engine without a window.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Shared libraries come from dpkg-shlibdeps; these are loaded at run time and invisible to it:
# the SVG icon engine and image plugins for the icons.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# A sound server to record from, a Secret Service for the server credentials, native Wayland,
# Qt's own translations (the standard dialog buttons; the program's are built in).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, gnome-keyring, qt6-wayland, qt6-translations-l10n")

include(CPack)
