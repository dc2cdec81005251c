# quarvel_forbid_links(<target> <forbidden target>...): fails the configure
# step when <target> links any of the forbidden targets, directly or through
# the libraries it links. Keeps the layering the folders promise (docs/design.md,
# "Layers"): the codecs stand alone, the simulator and the fuzz targets of
# codecs and simulator need no Avahi client, libusb, D-Bus or VISA layer.
function(_quarvel_linked_closure target out)
    set(seen "")
    set(queue ${target})
    while(queue)
        list(POP_FRONT queue item)
        # $<LINK_ONLY:x> is what CMake records for private dependencies of
        # static libraries; other generator expressions are left unresolved.
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
        if(item IN_LIST seen OR NOT TARGET ${item})
            continue()
        endif()
        list(APPEND seen ${item})
        get_target_property(aliased ${item} ALIASED_TARGET)
        if(aliased)
            list(APPEND queue ${aliased})
        endif()
        get_target_property(type ${item} TYPE)
        set(props INTERFACE_LINK_LIBRARIES)
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            list(APPEND props LINK_LIBRARIES)
        endif()
        foreach(prop ${props})
            get_target_property(libs ${item} ${prop})
            if(libs)
                list(APPEND queue ${libs})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(quarvel_forbid_links target)
    if(NOT TARGET ${target})
        message(FATAL_ERROR "quarvel_forbid_links: no target ${target}")
    endif()
    _quarvel_linked_closure(${target} linked)
    foreach(forbidden ${ARGN})
        if(forbidden IN_LIST linked)
            message(FATAL_ERROR "${target} links ${forbidden}, which its layer must not "
                "depend on (docs/design.md, Layers)")
        endif()
    endforeach()
endfunction()
