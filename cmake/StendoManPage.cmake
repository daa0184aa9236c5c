# stendo_man_page(<program target> NAME <one line> INCLUDE <file> COMPONENT <component>)
#
# Writes the manual page <program>.1 with help2man from the program's own --help, so that the
# page lists exactly the options the program takes; an option added to the program appears in
# both. INCLUDE holds the sections --help does not tell (exit status, files, see also). The
# pages are built by the target man-pages (the packages build it) and installed when built.
function(stendo_man_page program)
    cmake_parse_arguments(M "" "NAME;INCLUDE;COMPONENT" "" ${ARGN})
    find_program(STENDO_HELP2MAN help2man)
    if(NOT STENDO_HELP2MAN)
        return()
    endif()
    if(NOT TARGET man-pages)
        add_custom_target(man-pages)
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    # The version is given, not asked: --version also names the runtime file of this build. The
    # texts are UTF-8 (the program's Russian name).
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${STENDO_HELP2MAN} --locale=C.UTF-8 --no-info --section=1
                "--name=${M_NAME}" "--version-string=${PROJECT_VERSION}"
                "--include=${M_INCLUDE}" --output=${page} $<TARGET_FILE:${program}>
        DEPENDS ${program} ${M_INCLUDE}
        VERBATIM)
    add_custom_target(${program}-man-page DEPENDS ${page})
    add_dependencies(man-pages ${program}-man-page)
    install(FILES ${page} DESTINATION share/man/man1 COMPONENT ${M_COMPONENT} OPTIONAL)
endfunction()
