# The application manifest (cmake/windows/OrvinPrograms.manifest), one source for every
# program we ship: OrvinAgent.exe and the programs in tools/. It goes in through the
# resource compiler, as resource 1 of type 24, the manifest Windows reads at a process's
# start. Each program so marked is listed in the global property ORVIN_PROGRAMS, which
# the check of the built executables reads.
set(ORVIN_MANIFEST_RC ${CMAKE_CURRENT_LIST_DIR}/windows/OrvinPrograms.rc)
set(ORVIN_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/windows/OrvinPrograms.manifest)

function(orvin_add_manifest target)
    target_sources(${target} PRIVATE ${ORVIN_MANIFEST_RC})
    # The resource compiler reads the manifest: a change to it rebuilds the resource.
    set_property(SOURCE ${ORVIN_MANIFEST_RC} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS
                 ${ORVIN_MANIFEST})
    set_property(GLOBAL APPEND PROPERTY ORVIN_PROGRAMS ${target})
endfunction()

# Every executable defined in the folder `dir` and below it gets the manifest.
function(orvin_add_manifest_to_programs dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            orvin_add_manifest(${target})
        endif()
    endforeach()
    get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(child ${children})
        orvin_add_manifest_to_programs(${child})
    endforeach()
endfunction()
