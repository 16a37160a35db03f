# Translations: translations/quillpoint_<language>.ts, compiled by lrelease and embedded in
# quill_app under :/i18n, where installTranslations() finds them.
# `cmake --build <build dir> --target update_translations` refreshes the .ts files from the
# sources with lupdate; a translator then fills in what is new (Qt Linguist, or any editor).
# Only the two tools are needed (qt6-l10n-tools): Qt's CMake functions for them come with
# Debian's qt6-tools-dev, which brings Designer, Assistant and libclang along.

find_program(QUILLPOINT_LRELEASE lrelease PATHS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS} NO_DEFAULT_PATH REQUIRED)
find_program(QUILLPOINT_LUPDATE lupdate PATHS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS} NO_DEFAULT_PATH REQUIRED)

file(GLOB quill_ts_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/translations/*.ts)
set(quill_qm_files)
foreach(ts IN LISTS quill_ts_files)
    get_filename_component(name ${ts} NAME_WE)
    set(qm ${CMAKE_BINARY_DIR}/translations/${name}.qm)
    add_custom_command(OUTPUT ${qm}
        COMMAND ${QUILLPOINT_LRELEASE} -silent -nounfinished ${ts} -qm ${qm}
        DEPENDS ${ts} VERBATIM)
    list(APPEND quill_qm_files ${qm})
endforeach()
qt_add_resources(quill_app quillpoint_translations
    PREFIX /i18n BASE ${CMAKE_BINARY_DIR}/translations FILES ${quill_qm_files})

# Without line numbers, so that moving code does not change the translations.
add_custom_target(update_translations
    COMMAND ${QUILLPOINT_LUPDATE} -silent -locations none -no-obsolete ${PROJECT_SOURCE_DIR}/src -ts ${quill_ts_files}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} VERBATIM)
