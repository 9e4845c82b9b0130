# cmake -DINPUTS=<file> -DROOT=<source root> -DSTAMP=<file> -P QuorinCheckLayerIncludes.cmake
#
# INPUTS sets LAYER (the layer's folder), REACH (the folders it may include from: its own and those
# of the layers it links), HEADERS (single headers it reaches through other targets it links) and
# FILES (its headers and sources). Fails when a file includes a project header that is in neither.
# Includes without a folder (the moc output) and headers in angle brackets are not looked at.
cmake_minimum_required(VERSION 3.25)
include("${INPUTS}")
set(refused "")
foreach(file IN LISTS FILES)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "\"([^\"]+)\"" quoted "${line}")
        get_filename_component(folder "${CMAKE_MATCH_1}" DIRECTORY)
        if(folder STREQUAL "" OR folder IN_LIST REACH OR CMAKE_MATCH_1 IN_LIST HEADERS)
            continue()
        endif()
        file(RELATIVE_PATH shown "${ROOT}" "${file}")
        string(APPEND refused "\n  ${shown} includes \"${CMAKE_MATCH_1}\"")
    endforeach()
endforeach()
if(refused)
    string(REPLACE ";" ", " reach_shown "${REACH}")
    message(FATAL_ERROR "${LAYER} reaches only ${reach_shown}:${refused}\n"
                        "Link the layer in ${LAYER}/CMakeLists.txt (DEPENDS) if the architecture "
                        "allows it (cmake/QuorinLayers.cmake); otherwise move the code.")
endif()
file(TOUCH "${STAMP}")
