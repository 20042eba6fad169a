# What `cmake --install` puts where, and the Debian package CPack makes of it (`make install`,
# `make package`). Included from the top level, after the program's target exists.
include(GNUInstallDirs)

# Folders made by the install are 0755 whatever the umask, as a package's must be.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(GS_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(GS_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/glimmerstave)

install(TARGETS glimmerstave RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${GS_PACKAGING_DIR}/glimmerstave.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${GS_PACKAGING_DIR}/glimmerstave.mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME glimmerstave.xml)
install(FILES ${GS_PACKAGING_DIR}/glimmerstave.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
install(FILES ${GS_PACKAGING_DIR}/glimmerstave.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${GS_PACKAGING_DIR}/org.glimmerstave.glimmerstave.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${GS_PACKAGING_DIR}/copyright DESTINATION ${GS_DOC_DIR})

# The man page and the changelog go in compressed, reproducibly (no name or time stamp in the
# gzip header), as Debian's policy asks.
set(GS_COMPRESSED_DOCS)
foreach(doc glimmerstave.1 changelog)
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/packaging/${doc}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
        COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" gzip ${GS_PACKAGING_DIR}/${doc} ${compressed}
        DEPENDS ${GS_PACKAGING_DIR}/${doc}
        VERBATIM)
    list(APPEND GS_COMPRESSED_DOCS ${compressed})
endforeach()
add_custom_target(packaging_docs ALL DEPENDS ${GS_COMPRESSED_DOCS})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/glimmerstave.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${GS_DOC_DIR})

# The Debian package. Its library dependencies come from dpkg-shlibdeps; the sound font is
# looked up at run time, so it is named here. TimGM6mb is what the exports were settled with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glimmerstave)
set(CPACK_PACKAGE_VENDOR "The Glimmerstave developers")
set(CPACK_PACKAGE_CONTACT "The Glimmerstave developers <developers@glimmerstave.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time MIDI step sequencer")
# The package's long description, in lines short enough for a terminal.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Glimmerstave plays eight loops of sixteen steps in real time while you edit"
    "them. Each step has an on/off flag, a chord of note offsets, a General MIDI"
    "program, velocity, pan and duration. It plays to its embedded General MIDI"
    "synthesizer or to any ALSA or JACK MIDI port, keeps time with other programs"
    "over Ableton Link, MIDI clock or the JACK transport, works under NSM session"
    "managers and exports Standard MIDI Files and WAV files.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://glimmerstave.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "timgm6mb-soundfont | fluid-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
