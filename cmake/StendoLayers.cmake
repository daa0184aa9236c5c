# stendo_layer(<target> <folder> [INTERFACE|SHARED] [EXCLUDE <subfolders>...]
#              [DEPENDS <layers>...] [LINKS <libraries>...])
#
# Makes the folder src/<folder> one library. Its include root, in the build tree, holds links
# to the folder's own files only (the EXCLUDEd subfolders, which are layers of their own, left
# out), so that "<folder>/<file>.h" is reachable from this layer and the layers above it alone.
# DEPENDS names the layers directly below; LINKS the outside libraries.
#
# A static layer is also linked whole into a small check program together with its
# dependencies only: a call of a function of a higher layer leaves a symbol undefined there
# and fails the build.
function(stendo_layer target folder)
    cmake_parse_arguments(L "INTERFACE;SHARED" "" "EXCLUDE;DEPENDS;LINKS" ${ARGN})
    set(source_dir ${CMAKE_CURRENT_SOURCE_DIR}/${folder})
    set(root ${CMAKE_BINARY_DIR}/layers/${target})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root}/${folder})
    file(GLOB entries LIST_DIRECTORIES true RELATIVE ${source_dir} CONFIGURE_DEPENDS
         ${source_dir}/*)
    set(sources "")
    foreach(entry ${entries})
        if(entry IN_LIST L_EXCLUDE)
            continue()
        endif()
        file(CREATE_LINK ${source_dir}/${entry} ${root}/${folder}/${entry} SYMBOLIC)
        if(entry MATCHES "\\.(cpp|h)$")
            list(APPEND sources ${source_dir}/${entry})
        endif()
    endforeach()

    if(L_INTERFACE)
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${root})
        target_link_libraries(${target} INTERFACE ${L_DEPENDS} ${L_LINKS})
        return()
    endif()

    file(GLOB forms CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/${folder}/*.ui)
    if(L_SHARED)
        add_library(${target} SHARED ${sources} ${forms})
        target_link_libraries(${target} PRIVATE ${L_DEPENDS} ${L_LINKS})
        target_include_directories(${target} PRIVATE ${root})
    else()
        add_library(${target} STATIC ${sources} ${forms})
        target_link_libraries(${target} PUBLIC ${L_DEPENDS} ${L_LINKS})
        target_include_directories(${target} PUBLIC ${root})
    endif()
    if(forms)
        set_target_properties(${target} PROPERTIES
            AUTOUIC_SEARCH_PATHS ${PROJECT_SOURCE_DIR}/resources/${folder})
    endif()

    if(NOT L_SHARED)
        add_executable(${target}_layer_check ${PROJECT_SOURCE_DIR}/cmake/LayerCheck.cpp)
        target_link_libraries(${target}_layer_check PRIVATE
            "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}>")
        set_target_properties(${target}_layer_check PROPERTIES
            RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layer-checks)
    endif()
endfunction()

# stendo_forbid_links(TARGETS <targets>... FORBIDDEN <libraries>...)
#
# Fails the configuration when one of the targets reaches one of the forbidden libraries
# through its links, directly or through the layers it builds on. Called once every target is
# defined, so that a front end can be kept apart from another (the command line, the server and
# the tools link no window).
function(stendo_forbid_links)
    cmake_parse_arguments(F "" "" "TARGETS;FORBIDDEN" ${ARGN})
    foreach(start ${F_TARGETS})
        set(seen "")
        set(queue ${start})
        while(queue)
            list(POP_FRONT queue current)
            # Generator expressions around a library name ($<LINK_ONLY:x>, $<LINK_LIBRARY:..,x>).
            string(REGEX REPLACE "^\\$<[A-Z_]+:([^,>]*,)?([^>]*)>$" "\\2" current "${current}")
            if(NOT TARGET ${current} OR current IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${current})
            if(current IN_LIST F_FORBIDDEN)
                message(FATAL_ERROR "${start} links ${current}, which it must not")
            endif()
            get_target_property(type ${current} TYPE)
            set(properties INTERFACE_LINK_LIBRARIES)
            if(NOT type STREQUAL "INTERFACE_LIBRARY")
                list(APPEND properties LINK_LIBRARIES)
            endif()
            foreach(property ${properties})
                get_target_property(libraries ${current} ${property})
                if(libraries)
                    list(APPEND queue ${libraries})
                endif()
            endforeach()
        endwhile()
    endforeach()
endfunction()
