# quorin_add_layer(<target> [SOURCES ...] [DEPENDS ...] [QT ...])
#
# One static library per folder of the layout. A folder with no sources yet becomes an
# interface library, so the dependency chain already holds before its first class lands.
# Headers are included from the project root: #include "net/NetworkManager.h".
function(quorin_add_layer target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;QT" ${ARGN})
    if(ARG_SOURCES)
        add_library(${target} STATIC ${ARG_SOURCES})
        target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}")
        target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
        foreach(module IN LISTS ARG_QT)
            target_link_libraries(${target} PUBLIC Qt6::${module})
        endforeach()
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE "${PROJECT_SOURCE_DIR}")
        target_link_libraries(${target} INTERFACE ${ARG_DEPENDS})
    endif()
endfunction()
