# Installs what makes Velloq a desktop application (desktop entry, hicolor icons, AppStream
# metadata, manual page, package documents) and configures CPack to build the Debian package.
# Included from the top-level CMakeLists.txt after GNUInstallDirs.

# The application id names the desktop entry, the icon and the AppStream component alike; the
# running program announces the same id (QGuiApplication::desktopFileName) so that desktops can
# match its windows to the entry.
set(VELLOQ_APP_ID io.velloq.Velloq)
set(VELLOQ_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(VELLOQ_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
# Debian looks for a package's documents under its package name, not the project name that
# GNUInstallDirs would use.
set(VELLOQ_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/velloq)

# PNG icons are rendered from the SVG at build time, so they always match it.
find_program(VELLOQ_RSVG_CONVERT rsvg-convert)
find_program(VELLOQ_GZIP gzip)
if(NOT VELLOQ_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert (Debian package librsvg2-bin) renders the PNG icons; "
                        "scripts/install-deps installs it")
endif()
if(NOT VELLOQ_GZIP)
    message(FATAL_ERROR "gzip compresses the manual page and the changelog")
endif()

set(VELLOQ_ICON_SIZES 48 128)
set(VELLOQ_GENERATED_FILES)
foreach(size ${VELLOQ_ICON_SIZES})
    set(png ${VELLOQ_GENERATED_DIR}/icons/${size}/${VELLOQ_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VELLOQ_GENERATED_DIR}/icons/${size}
        COMMAND ${VELLOQ_RSVG_CONVERT} --width=${size} --height=${size} --keep-aspect-ratio
                --output=${png} ${PROJECT_SOURCE_DIR}/resources/velloq.svg
        DEPENDS ${PROJECT_SOURCE_DIR}/resources/velloq.svg
        COMMENT "Rendering the ${size} px icon"
        VERBATIM)
    list(APPEND VELLOQ_GENERATED_FILES ${png})
    install(FILES ${png}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Debian wants manual pages and changelogs compressed with gzip -9n (no name, no time stamp,
# so that the package is reproducible).
function(velloq_gzip source output)
    get_filename_component(name ${output} NAME_WLE)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${VELLOQ_GENERATED_DIR}/${name}
        COMMAND ${VELLOQ_GZIP} -9nf ${VELLOQ_GENERATED_DIR}/${name}
        DEPENDS ${source}
        COMMENT "Compressing ${name}"
        VERBATIM)
    set(VELLOQ_GENERATED_FILES ${VELLOQ_GENERATED_FILES} ${output} PARENT_SCOPE)
endfunction()
velloq_gzip(${VELLOQ_DATA_DIR}/velloq.1 ${VELLOQ_GENERATED_DIR}/velloq.1.gz)
velloq_gzip(${VELLOQ_DATA_DIR}/debian/changelog ${VELLOQ_GENERATED_DIR}/changelog.gz)

# Built with the program, so that installing after building only the program works.
add_custom_target(velloq_desktop_files ALL DEPENDS ${VELLOQ_GENERATED_FILES})
add_dependencies(velloq velloq_desktop_files)

install(FILES ${VELLOQ_DATA_DIR}/${VELLOQ_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${VELLOQ_DATA_DIR}/${VELLOQ_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/velloq.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
    RENAME ${VELLOQ_APP_ID}.svg)
install(FILES ${VELLOQ_GENERATED_DIR}/velloq.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VELLOQ_DATA_DIR}/debian/copyright ${VELLOQ_GENERATED_DIR}/changelog.gz
    DESTINATION ${VELLOQ_INSTALL_DOCDIR})

# The Debian package. scripts/package builds it with Debian's hardening flags.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velloq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velloq developers")
set(CPACK_PACKAGE_CONTACT "The Velloq developers <developers@velloq.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small desktop chat client for IRC")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://velloq.example/")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The extended description; CPack puts the summary above it as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velloq is a small graphical client for Internet Relay Chat. Its main window
holds a status window for the server's messages and a window for every
channel joined. Plain text typed into a channel window goes to the channel;
nine slash commands connect, send messages and notices, open and close
windows and quit.")
# The libraries (Qt 6 Widgets, Gui, Network, Core) come from dpkg-shlibdeps. What it cannot see:
# the monospace font metric-compatible with "Courier New" that the chat boxes ask for, and Qt's
# SVG plugins, which draw the application icon.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, libqt6svg6")
# Without it Qt runs through XWayland on a Wayland desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
