# Fails when a file in one of core/'s folders includes a header from a folder above it.
#   cmake -DCORE_DIR=<source>/core -DFLOORS=util,logfacade,... -P CheckFloors.cmake
# FLOORS lists the folders lowest first; a folder missing from it fails too, so that a new
# folder gets its place in the order before it is used.
string(REPLACE "," ";" floors "${FLOORS}")
file(GLOB folders LIST_DIRECTORIES true RELATIVE "${CORE_DIR}" "${CORE_DIR}/*")
set(violations "")
foreach(folder IN LISTS folders)
    if(NOT IS_DIRECTORY "${CORE_DIR}/${folder}")
        continue()
    endif()
    list(FIND floors "${folder}" level)
    if(level EQUAL -1)
        string(APPEND violations "core/${folder}/ has no place in the floor order\n")
        continue()
    endif()
    file(GLOB_RECURSE sources RELATIVE "${CORE_DIR}" "${CORE_DIR}/${folder}/*.h"
         "${CORE_DIR}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
        file(STRINGS "${CORE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]core/")
        foreach(include IN LISTS includes)
            string(REGEX REPLACE "^.*[\"<]core/([^/]+)/.*$" "\\1" target "${include}")
            list(FIND floors "${target}" targetLevel)
            if(targetLevel GREATER level OR targetLevel EQUAL -1)
                string(STRIP "${include}" include)
                string(APPEND violations
                       "core/${source}: ${include} (core/${target}/ is not below core/${folder}/)\n")
            endif()
        endforeach()
    endforeach()
endforeach()
if(violations)
    message(FATAL_ERROR "Includes pointing up a floor:\n${violations}")
endif()
