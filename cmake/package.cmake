# The Debian package, made by CPack's DEB generator from the install rules of
# cmake/install.cmake (scripts/package.sh runs it). Dependencies come from
# dpkg-shlibdeps; the platform plugins Qt loads at run time are not linked, so
# the Wayland one is recommended here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarvel)
set(CPACK_PACKAGE_VENDOR Hollin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUARVEL_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL applications library development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUARVEL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUARVEL_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE quarvel)
# The library package gets a shlibs file, so that programs built against it
# depend on it through dpkg-shlibdeps, and an ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_APPLICATIONS_PACKAGE_NAME quarvel)
# Qt loads its platform plugins at run time: on Debian 12 libqt6gui6 (a
# linked dependency) holds the X11 and offscreen ones; Wayland's is separate.
set(CPACK_DEBIAN_APPLICATIONS_PACKAGE_RECOMMENDS "qt6-wayland")
# Each package's description starts with its synopsis line. (CPack would put
# CPACK_PACKAGE_DESCRIPTION_SUMMARY before each of them, so that stays unset.)
set(CPACK_DEBIAN_APPLICATIONS_DESCRIPTION
    "screen images and waveform data from bench instruments
Quarvel talks to one instrument at a time over the LAN: Keysight/Agilent
InfiniiVision and Infiniium, Rigol DS, Siglent SDS and Tektronix TDS
oscilloscopes, and the Rohde & Schwarz FSV spectrum analyser. It identifies
the instrument, fetches the instrument's own screen image, shows it and saves
it (numbered files, a file dialog or the clipboard), keeps a comments log,
runs Stop, Run and Single, and exports waveform data as semicolon-separated
text or as a Kst dirfile.
.
It carries its own VISA layer (VXI-11 and raw SCPI socket), so no vendor
VISA library is needed. The package holds the desktop application quarvel,
the command-line tool quarvel-cli and the instrument simulator quarvel-sim.")

# Debian wants a copyright file and a changelog in each package's
# documentation directory. They are installed for the packages only
# (EXCLUDE_FROM_ALL keeps them out of a plain `cmake --install`).
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
    ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${QUARVEL_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/packaging/changelog
        > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)

function(quarvel_install_debian_docs component package)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
            ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endfunction()
quarvel_install_debian_docs(applications quarvel)

# The library package is named after its SONAME, as Debian's policy for
# shared libraries asks, so that an incompatible version can be installed
# beside it; the development package holds the link, header and .pc file.
get_target_property(QUARVEL_VISA_SOVERSION quarvel-visa SOVERSION)
set(QUARVEL_VISA_PACKAGE libquarvel-visa${QUARVEL_VISA_SOVERSION})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${QUARVEL_VISA_PACKAGE})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# dpkg runs ldconfig through this trigger, as Debian asks; the ldconfig
# scripts CPack adds of its own are taken out after packaging.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/library/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_ldconfig_by_trigger.cmake)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "VISA library for bench instruments on the LAN and USB
Quarvel's VISA library (libquarvel-visa) exports the standard VISA C
functions for instruments on the LAN, over VXI-11, HiSLIP and raw SCPI
sockets, and for USBTMC instruments on this machine or over USB/IP. Other
programs load it as their VISA library, PyVISA among them, without a vendor
VISA installation.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquarvel-visa-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "VISA library for bench instruments on the LAN and USB - development files
The header visa.h (in /usr/include/quarvel, named by pkg-config's
quarvel-visa module) and the link to build C++ programs against Quarvel's
VISA library, libquarvel-visa.")
quarvel_install_debian_docs(library ${QUARVEL_VISA_PACKAGE})
quarvel_install_debian_docs(development libquarvel-visa-dev)

include(CPack)
