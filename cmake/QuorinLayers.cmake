# The architecture: the layers each layer may build on, from the subsystems its subsystem needs.
# A layer links the ones of these it uses; configuring fails when it links another, and building
# fails when one of its files includes a header it does not reach through what it links. Only
# app/startup, on top of everything, is outside this table.
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
    if(NOT layer IN_LIST QUORIN_LAYERS OR NOT target STREQUAL "quorin_${layer}")
        message(FATAL_ERROR "${target} in ${layer}/ is not a layer of cmake/QuorinLayers.cmake")
    endif()

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
    set_property(GLOBAL APPEND PROPERTY QUORIN_LAYER_TARGETS ${target})

    # The check runs before the layer builds. What the layer reaches is known only once every
    # folder has linked its targets, so quorin_write_layer_reach() writes it at the end.
    file(GLOB files CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.h" "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    set(inputs "${CMAKE_CURRENT_BINARY_DIR}/${target}-includes.cmake")
    set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}-includes.stamp")
    set_target_properties(${target} PROPERTIES QUORIN_LAYER_FILES "${files}" QUORIN_LAYER_INPUTS "${inputs}")
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

# The project targets a target links, directly.
function(_quorin_linked_targets target out)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
    else()
        get_target_property(links ${target} LINK_LIBRARIES)
    endif()
    set(linked "")
    foreach(link IN LISTS links)
        if(link MATCHES "^quorin_" AND TARGET ${link})
            list(APPEND linked ${link})
        endif()
    endforeach()
    set(${out} ${linked} PARENT_SCOPE)
endfunction()

# What a target's users may include: a layer's whole folder, another project target's own headers
# (the proxy's header-only records, for one), and what everything it links reaches in turn.
function(_quorin_reach target folders_out headers_out)
    get_property(layers GLOBAL PROPERTY QUORIN_LAYER_TARGETS)
    set(folders "")
    set(headers "")
    if(target IN_LIST layers)
        string(REGEX REPLACE "^quorin_" "" folder "${target}")
        list(APPEND folders ${folder})
    else()
        get_target_property(source_dir ${target} SOURCE_DIR)
        get_target_property(sources ${target} SOURCES)
        foreach(source IN LISTS sources)
            if(source MATCHES "\\.h$")
                if(NOT IS_ABSOLUTE "${source}")
                    set(source "${source_dir}/${source}")
                endif()
                file(RELATIVE_PATH header "${PROJECT_SOURCE_DIR}" "${source}")
                list(APPEND headers ${header})
            endif()
        endforeach()
    endif()
    _quorin_linked_targets(${target} linked)
    foreach(link IN LISTS linked)
        _quorin_reach(${link} linked_folders linked_headers)
        list(APPEND folders ${linked_folders})
        list(APPEND headers ${linked_headers})
    endforeach()
    list(REMOVE_DUPLICATES folders)
    list(REMOVE_DUPLICATES headers)
    set(${folders_out} ${folders} PARENT_SCOPE)
    set(${headers_out} ${headers} PARENT_SCOPE)
endfunction()

# Runs once every folder is configured: refuses a layer that links a layer the table does not
# allow, and writes for each layer what its files may include.
function(quorin_write_layer_reach)
    get_property(layers GLOBAL PROPERTY QUORIN_LAYER_TARGETS)
    foreach(target IN LISTS layers)
        string(REGEX REPLACE "^quorin_" "" layer "${target}")
        _quorin_linked_targets(${target} linked)
        foreach(link IN LISTS linked)
            if(link IN_LIST layers)
                string(REGEX REPLACE "^quorin_" "" used "${link}")
                if(NOT used IN_LIST QUORIN_LAYER_MAY_USE_${layer})
                    message(FATAL_ERROR "${layer} may not build on ${used}: it may use only "
                                        "'${QUORIN_LAYER_MAY_USE_${layer}}' (cmake/QuorinLayers.cmake)")
                endif()
            endif()
        endforeach()
        _quorin_reach(${target} folders headers)
        get_target_property(files ${target} QUORIN_LAYER_FILES)
        get_target_property(inputs ${target} QUORIN_LAYER_INPUTS)
        # Rewritten only when it changes, so the check reruns only when it has to.
        file(CONFIGURE OUTPUT "${inputs}"
             CONTENT "set(LAYER \"${layer}\")\nset(REACH \"${folders}\")\nset(HEADERS \"${headers}\")\nset(FILES \"${files}\")\n")
    endforeach()
endfunction()
cmake_language(DEFER CALL quorin_write_layer_reach)
