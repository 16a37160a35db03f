# Install rules for what a Linux desktop and a distribution expect besides the program, and the
# Debian packages CPack builds from them (scripts/package.sh runs it):
#
#   quillpoint          the program and its desktop integration          component "quillpoint"
#   quillpoint-dbgsym   the program's debug symbols, split out by CPack
#   quillpoint-backend  the reference backend as a systemd user service   component "backend"
#
# The backend component stays out of a plain `cmake --install`: it needs the production
# node_modules that scripts/package.sh prepares in the build directory.

set(QUILLPOINT_BACKEND_MODULES_DIR ${CMAKE_BINARY_DIR}/backend-modules)
set(quill_backend_dest lib/quillpoint-backend)
set(quill_packaging_dir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${quill_packaging_dir})

# Man pages and changelogs are installed compressed, without a time stamp, so that two builds
# of the same sources give the same package.
function(quill_gzip input output)
    execute_process(COMMAND gzip -9nc ${input} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
endfunction()
quill_gzip(${PROJECT_SOURCE_DIR}/data/quillpoint.1 ${quill_packaging_dir}/quillpoint.1.gz)
quill_gzip(${PROJECT_SOURCE_DIR}/data/changelog ${quill_packaging_dir}/changelog.gz)

# Files that name absolute install paths are written at install time, when the prefix is known
# (`cmake --install --prefix`, or /usr for the packages), not the one configured.
function(quill_install_configured template destination component)
    get_filename_component(name ${template} NAME_WLE)
    install(CODE "
        set(QUILLPOINT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        set(QUILLPOINT_BACKEND_DIR \"\${CMAKE_INSTALL_PREFIX}/${quill_backend_dest}\")
        set(QUILLPOINT_BACKEND_DOCDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/quillpoint-backend\")
        configure_file(\"${template}\" \"${quill_packaging_dir}/install-time/${name}\" @ONLY)
        file(INSTALL \"${quill_packaging_dir}/install-time/${name}\"
             DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\")"
        COMPONENT ${component} ${ARGN})
endfunction()

# The program
install(FILES data/app.quillpoint.Quillpoint.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT quillpoint)
quill_install_configured(${PROJECT_SOURCE_DIR}/data/app.quillpoint.Quillpoint.service.in
                         ${CMAKE_INSTALL_DATADIR}/dbus-1/services quillpoint)
foreach(size 16 22 24 32 48 64 128 256 512)
    install(FILES resources/icons/hicolor/${size}x${size}/app.quillpoint.Quillpoint.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT quillpoint)
endforeach()
install(FILES resources/icons/app.quillpoint.Quillpoint-symbolic.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/symbolic/apps COMPONENT quillpoint)
install(FILES ${quill_packaging_dir}/quillpoint.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT quillpoint)
install(FILES data/copyright ${quill_packaging_dir}/changelog.gz README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillpoint COMPONENT quillpoint)

# The backend
install(DIRECTORY backend/src DESTINATION ${quill_backend_dest} COMPONENT backend EXCLUDE_FROM_ALL)
install(FILES backend/package.json DESTINATION ${quill_backend_dest} COMPONENT backend EXCLUDE_FROM_ALL)
install(CODE "
    if(NOT EXISTS \"${QUILLPOINT_BACKEND_MODULES_DIR}/node_modules\")
        message(FATAL_ERROR \"The backend's node_modules are missing in ${QUILLPOINT_BACKEND_MODULES_DIR}: \"
                            \"scripts/package.sh prepares them\")
    endif()"
    COMPONENT backend EXCLUDE_FROM_ALL)
install(DIRECTORY ${QUILLPOINT_BACKEND_MODULES_DIR}/node_modules USE_SOURCE_PERMISSIONS
        DESTINATION ${quill_backend_dest} COMPONENT backend EXCLUDE_FROM_ALL)
quill_install_configured(${PROJECT_SOURCE_DIR}/data/quillpoint-backend.service.in
                         lib/systemd/user backend EXCLUDE_FROM_ALL)
install(FILES backend/README.md ${quill_packaging_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillpoint-backend COMPONENT backend EXCLUDE_FROM_ALL)
install(FILES ${QUILLPOINT_BACKEND_MODULES_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillpoint-backend COMPONENT backend EXCLUDE_FROM_ALL)
install(FILES data/quillpoint-backend.env RENAME env
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillpoint-backend/examples COMPONENT backend EXCLUDE_FROM_ALL)

# The packages
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillpoint)
set(CPACK_PACKAGE_VENDOR Quillpoint)
set(CPACK_PACKAGE_CONTACT "Quillpoint <linux@quillpoint.app>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The install rules name every path below the prefix; the prefix is /usr for both packages.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL quillpoint backend)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE quillpoint)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quillpoint.app/)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_QUILLPOINT_PACKAGE_NAME quillpoint)
set(CPACK_DEBIAN_QUILLPOINT_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_QUILLPOINT_PACKAGE_SHLIBDEPS ON)
# Qt's SQLite driver is a plugin the history loads, so the computed dependencies miss it.
set(CPACK_DEBIAN_QUILLPOINT_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_QUILLPOINT_DEBUGINFO_PACKAGE ON)
# Reached at run time rather than linked: the accessibility bus, a Secret Service, a sound
# server and Qt's own translations (the standard buttons of dialogs). Without them the program
# still runs, with the limits its messages explain.
set(CPACK_DEBIAN_QUILLPOINT_PACKAGE_RECOMMENDS
    "at-spi2-core, gnome-keyring | keepassxc, pulseaudio | pipewire-pulse, qt6-translations-l10n")
set(CPACK_DEBIAN_QUILLPOINT_PACKAGE_SUGGESTS quillpoint-backend)
set(CPACK_COMPONENT_QUILLPOINT_DESCRIPTION
"explain selected text and dictate into any application
Quillpoint is a tray program that puts two writing aids behind system-wide
shortcuts. Explain (Ctrl+1) shows an explanation of the selected text from a
language model in a small panel next to the pointer; Transcribe (Ctrl+2)
records the microphone and pastes the transcribed text into the application
in front.

It talks to the Quillpoint backend, which the quillpoint-backend package runs
locally. Global shortcuts need an X11 session.")

set(CPACK_DEBIAN_BACKEND_PACKAGE_NAME quillpoint-backend)
set(CPACK_DEBIAN_BACKEND_PACKAGE_SECTION net)
set(CPACK_DEBIAN_BACKEND_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_BACKEND_DESCRIPTION
"relay between Quillpoint and OpenAI-compatible services
The reference backend of the Quillpoint program, run as a systemd user
service on 127.0.0.1:8787. It answers the program's explanation and
transcription requests, relays them to any OpenAI-compatible API (OpenAI,
xAI, Ollama, the llama.cpp server, vLLM) and counts daily limits per device.

Enable it with: systemctl --user enable --now quillpoint-backend")
# The Node.js dependency follows the Node.js that built the native module (cpack reads it).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackagingProject.cmake)
set(CPACK_QUILLPOINT_BACKEND_MODULES_DIR ${QUILLPOINT_BACKEND_MODULES_DIR})

include(CPack)
