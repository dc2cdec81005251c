# cmake -DSOURCE_DIR=<repository> -P layers.cmake
# Fails when a file of visa/ includes a file of a level above its own
# (docs/design.md, "Layout of visa/"), when a visa/ file is in no
# level, or when codec/ includes anything of ours outside codec/.
cmake_minimum_required(VERSION 3.25)
set(level_1 visa visa_internal ascii resource_name progress discovery)
set(level_2 io_log transport transport_registry resource_forms byte_stream tcp_connection udp_socket rpc_client
    usb_device usb_quirks)
set(level_3 builtin_transports transport_hislip transport_memory transport_socket
    transport_usbtmc transport_vxi11 usbip_client usb_libusb usb_discovery discovery_vxi11
    discovery_dnssd)
set(level_4 transport_table)
set(level_5 session formatted_io resource_pattern visa_library session_table backend
    backend_builtin library_find library_open status_names visa_api visa_attributes
    visa_dispatch visa_events visa_find visa_format visa_library_api)

function(level_of stem out)
    foreach(level 1 2 3 4 5)
        if(stem IN_LIST level_${level})
            set(${out} ${level} PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${out} 0 PARENT_SCOPE)
endfunction()

set(faults "")
file(GLOB files ${SOURCE_DIR}/visa/*.h ${SOURCE_DIR}/visa/*.cpp)
foreach(file ${files})
    get_filename_component(stem ${file} NAME_WE)
    level_of(${stem} own)
    if(own EQUAL 0)
        list(APPEND faults "visa/${stem} is in no level of tests/visa/layers.cmake")
        continue()
    endif()
    file(STRINGS ${file} includes REGEX "^#include \"visa/")
    foreach(line ${includes})
        string(REGEX REPLACE "^#include \"visa/([a-z0-9_]+)\\.h\".*" "\\1" target "${line}")
        level_of(${target} theirs)
        if(theirs GREATER own)
            get_filename_component(name ${file} NAME)
            list(APPEND faults "visa/${name} (level ${own}) includes visa/${target}.h (level ${theirs})")
        endif()
    endforeach()
endforeach()

file(GLOB codec_files ${SOURCE_DIR}/codec/*.h ${SOURCE_DIR}/codec/*.cpp)
foreach(file ${codec_files})
    file(STRINGS ${file} includes REGEX "^#include \"")
    foreach(line ${includes})
        if(NOT line MATCHES "^#include \"codec/")
            get_filename_component(name ${file} NAME)
            list(APPEND faults "codec/${name}: ${line}")
        endif()
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "Includes against the layers:\n  ${text}")
endif()
