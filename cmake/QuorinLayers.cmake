# The architecture: the layers each layer may build on, from the subsystems its subsystem needs.
# A layer links the ones of these it uses (DEPENDS); configuring fails when it names another, and
# building fails when one of its files includes a header of a layer it does not reach through
# what it links. Only app/startup, on top of everything, is outside this table.
set(QUORIN_LAYERS app net media hlsproxy downloads playback learning pdf quiz update)
set(QUORIN_LAYER_MAY_USE_app "")
set(QUORIN_LAYER_MAY_USE_net app)
set(QUORIN_LAYER_MAY_USE_media app net)
set(QUORIN_LAYER_MAY_USE_hlsproxy app net media)
set(QUORIN_LAYER_MAY_USE_downloads app net media)
set(QUORIN_LAYER_MAY_USE_playback app net media hlsproxy downloads)
set(QUORIN_LAYER_MAY_USE_learning app net)
set(QUORIN_LAYER_MAY_USE_pdf app net media downloads learning)
set(QUORIN_LAYER_MAY_USE_quiz app net)
set(QUORIN_LAYER_MAY_USE_update app net)

set(QUORIN_INCLUDE_CHECK_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/QuorinCheckLayerIncludes.cmake")

# quorin_add_layer(<target> [SOURCES ...] [DEPENDS ...] [QT ...])
#
# One static library per folder of the layout, named quorin_<folder>. A folder with no sources yet
# becomes an interface library, so what it will build on already holds before its first class
# lands. Headers are included from the project root: #include "net/NetworkManager.h".
function(quorin_add_layer target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;QT" ${ARGN})
    file(RELATIVE_PATH layer "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT layer IN_LIST QUORIN_LAYERS)
        message(FATAL_ERROR "${layer} is not a layer of the architecture (cmake/QuorinLayers.cmake)")
    endif()

    # What the layer's files may include: its own folder and every layer it reaches by linking.
    set(reach ${layer})
    foreach(dependency IN LISTS ARG_DEPENDS)
        string(REGEX REPLACE "^quorin_" "" used "${dependency}")
        if(NOT used IN_LIST QUORIN_LAYERS)
            continue()
        endif()
        if(NOT used IN_LIST QUORIN_LAYER_MAY_USE_${layer})
            message(FATAL_ERROR "${layer} may not build on ${used}: it may use only "
                                "'${QUORIN_LAYER_MAY_USE_${layer}}' (cmake/QuorinLayers.cmake)")
        endif()
        get_property(used_reach GLOBAL PROPERTY QUORIN_LAYER_REACH_${used})
        list(APPEND reach ${used_reach})
    endforeach()
    list(REMOVE_DUPLICATES reach)
    set_property(GLOBAL PROPERTY QUORIN_LAYER_REACH_${layer} ${reach})

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

    file(GLOB files CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.h" "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    if(NOT files)
        return()
    endif()
    # The file names and the reach go to the check through a file, rewritten only when they change.
    set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}-includes.stamp")
    set(inputs "${CMAKE_CURRENT_BINARY_DIR}/${target}-includes.cmake")
    file(CONFIGURE OUTPUT "${inputs}"
         CONTENT "set(LAYER \"${layer}\")\nset(REACH \"${reach}\")\nset(FILES \"${files}\")\n")
    add_custom_command(
        OUTPUT "${stamp}"
        COMMAND "${CMAKE_COMMAND}" "-DINPUTS=${inputs}" "-DROOT=${PROJECT_SOURCE_DIR}" "-DSTAMP=${stamp}"
                -P "${QUORIN_INCLUDE_CHECK_SCRIPT}"
        DEPENDS ${files} "${inputs}" "${QUORIN_INCLUDE_CHECK_SCRIPT}"
        COMMENT "Checking what ${layer} includes"
        VERBATIM)
    if(ARG_SOURCES)
        add_custom_target(${target}_includes DEPENDS "${stamp}")
        add_dependencies(${target} ${target}_includes)
    else()
        add_custom_target(${target}_includes ALL DEPENDS "${stamp}")
    endif()
endfunction()
