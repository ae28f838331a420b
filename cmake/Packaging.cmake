# The Debian package (scripts/package): what `cmake --install` puts in place,
# plus the manual page, and for the package alone the copyright file and
# the Debian changelog. `cpack` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr writes lumora_<version>-<revision>_amd64.deb.

set(LUMORA_DEB_REVISION 1)
set(LUMORA_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(LUMORA_PACKAGING_OUT ${CMAKE_CURRENT_BINARY_DIR}/packaging)

# Debian installs manual pages and changelogs compressed, without the time
# stamp of the compression (so that builds are reproducible).
function(lumora_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LUMORA_PACKAGING_OUT}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()
lumora_gzip(${LUMORA_PACKAGING_DIR}/lumora.1 ${LUMORA_PACKAGING_OUT}/lumora.1.gz)
lumora_gzip(${LUMORA_PACKAGING_DIR}/changelog ${LUMORA_PACKAGING_OUT}/changelog.Debian.gz)
add_custom_target(lumora_packaging_files ALL
  DEPENDS ${LUMORA_PACKAGING_OUT}/lumora.1.gz ${LUMORA_PACKAGING_OUT}/changelog.Debian.gz)

install(FILES ${LUMORA_PACKAGING_OUT}/lumora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Debian's own files: only the package installs them.
install(FILES ${LUMORA_PACKAGING_DIR}/copyright ${LUMORA_PACKAGING_OUT}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lumora
        COMPONENT debian EXCLUDE_FROM_ALL)
# lintian's notes that do not apply (the package is not uploaded to Debian).
install(FILES ${LUMORA_PACKAGING_DIR}/lintian-overrides RENAME lumora
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumora")
set(CPACK_PACKAGE_CONTACT "Lumora maintainers <maintainers@lumora.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Every component in one package: the program's files and Debian's own.
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LUMORA_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://lumora.example.org/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the program links come from dpkg-shlibdeps; the GStreamer
# plugins it builds its pipelines from are loaded at run time, so they are
# named here: sources, converters and the AVI multiplexer (base, good), the
# MP3 and x264 encoders (ugly), the libav encoders, PipeWire cameras, ALSA
# and PulseAudio inputs, and the X11 video sink.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, gstreamer1.0-pipewire, gstreamer1.0-alsa, gstreamer1.0-pulseaudio, gstreamer1.0-x")
# The toolkit's own dialogs in Chinese, and the Wayland platform.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-wayland")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop video capture: camera preview, recording and photos")
# The synopsis comes from the summary, the lines below it from here.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Lumora shows the live picture of a camera, records picture and sound
together into one AVI file, pauses and stops the capture, and takes photos
of the live picture as BMP or JPEG files named by the second they were
taken. Cameras come through V4L2 or PipeWire, sound through PulseAudio,
PipeWire or ALSA. The user interface is in Simplified Chinese.")

include(CPack)
