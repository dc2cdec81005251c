# What `cmake --install` lays out (GNUInstallDirs: CMAKE_INSTALL_PREFIX and
# DESTDIR are honoured) and what the Debian packages are made of. Nothing is
# written outside the prefix: settings stay where QSettings puts them per user.
#
# Components: "applications" (the three programs, their manual pages, the
# desktop entry, icons and AppStream metainfo), "library" (libquarvel-visa.so.N
# with its SONAME link) and "development" (the development link, the header
# as include/quarvel/visa.h and the pkg-config file).
include(GNUInstallDirs)

set(QUARVEL_HOMEPAGE_URL "https://quarvel.example.org" CACHE STRING
    "Project home page, named in the AppStream metainfo and the Debian package")
set(QUARVEL_MAINTAINER "Quarvel maintainers <maintainers@quarvel.example.org>" CACHE STRING
    "Maintainer named in the Debian package and its changelog")
# The release date written into the metainfo and the Debian changelog;
# SOURCE_DATE_EPOCH, when set, makes it reproducible.
string(TIMESTAMP QUARVEL_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP QUARVEL_RELEASE_DATE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)

install(TARGETS quarvel quarvel-cli quarvel-sim
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT applications)

# The VISA library. Its header goes into include/quarvel/, and pkg-config
# names that directory, so programs include it as <visa.h>, as they include
# the header of any VISA library.
install(TARGETS quarvel-visa
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
        NAMELINK_COMPONENT development)
install(FILES visa/visa.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quarvel COMPONENT development)
# The pkg-config file finds the prefix from its own place, so it stays right
# when the tree is installed with another --prefix than it was configured for.
file(RELATIVE_PATH QUARVEL_PC_TO_PREFIX
    ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QUARVEL_PC_TO_PREFIX "${QUARVEL_PC_TO_PREFIX}")
configure_file(packaging/quarvel-visa.pc.in ${PROJECT_BINARY_DIR}/quarvel-visa.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quarvel-visa.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# Manual pages: scdoc sources next to each program, built with the programs.
find_program(QUARVEL_SCDOC scdoc REQUIRED)
find_program(QUARVEL_GZIP gzip REQUIRED)
set(QUARVEL_MAN_DIR ${PROJECT_BINARY_DIR}/man)
set(QUARVEL_MAN_PAGES "")
foreach(source ui/quarvel.1.scd cli/quarvel-cli.1.scd sim/quarvel-sim.1.scd)
    get_filename_component(page ${source} NAME_WLE) # quarvel-cli.1
    string(REGEX MATCH "[0-9]$" section ${page})
    # Installed compressed, as Debian expects of manual pages; -n keeps the
    # build's time stamp out of the archive.
    add_custom_command(OUTPUT ${QUARVEL_MAN_DIR}/${page} ${QUARVEL_MAN_DIR}/${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QUARVEL_MAN_DIR}
        COMMAND ${QUARVEL_SCDOC} < ${PROJECT_SOURCE_DIR}/${source} > ${QUARVEL_MAN_DIR}/${page}
        COMMAND ${QUARVEL_GZIP} -9 -n -c ${QUARVEL_MAN_DIR}/${page} > ${QUARVEL_MAN_DIR}/${page}.gz
        DEPENDS ${PROJECT_SOURCE_DIR}/${source}
        COMMENT "Manual page ${page}"
        VERBATIM)
    list(APPEND QUARVEL_MAN_PAGES ${QUARVEL_MAN_DIR}/${page} ${QUARVEL_MAN_DIR}/${page}.gz)
    install(FILES ${QUARVEL_MAN_DIR}/${page}.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT applications)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${QUARVEL_MAN_PAGES})

# Desktop integration: the entry, the icon at the hicolor theme's sizes up to
# the drawn 64 x 64 (a larger one would only be blurred), the metainfo.
add_executable(quarvel-icon-sizes res/icon_sizes.cpp)
target_link_libraries(quarvel-icon-sizes PRIVATE Qt6::Gui)
set(QUARVEL_ICON_SIZES 16 22 24 32 48 64)
set(QUARVEL_ICON_DIR ${PROJECT_BINARY_DIR}/icons/hicolor)
set(QUARVEL_ICONS "")
foreach(size ${QUARVEL_ICON_SIZES})
    list(APPEND QUARVEL_ICONS ${QUARVEL_ICON_DIR}/${size}x${size}/apps/quarvel.png)
endforeach()
add_custom_command(OUTPUT ${QUARVEL_ICONS}
    COMMAND quarvel-icon-sizes ${PROJECT_SOURCE_DIR}/res/quarvel.png ${QUARVEL_ICON_DIR}
        ${QUARVEL_ICON_SIZES}
    DEPENDS quarvel-icon-sizes ${PROJECT_SOURCE_DIR}/res/quarvel.png
    COMMENT "Icons at their hicolor sizes"
    VERBATIM)
add_custom_target(icons ALL DEPENDS ${QUARVEL_ICONS})
install(DIRECTORY ${QUARVEL_ICON_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
    COMPONENT applications)

# udev rules that let the logged-in user reach USB instruments (uaccess), in
# the rules directory under the prefix (/usr/lib/udev/rules.d for /usr).
install(FILES res/60-quarvel-usbtmc.rules DESTINATION lib/udev/rules.d COMPONENT applications)

install(FILES res/${QUARVEL_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT applications)
configure_file(res/${QUARVEL_APP_ID}.metainfo.xml.in
    ${PROJECT_BINARY_DIR}/${QUARVEL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${QUARVEL_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT applications)

# The built-in instrument definitions, as examples users copy into their own
# definition directory and adapt. They lie one level below the directory
# Quarvel reads (share/quarvel/instruments), since the same families are
# compiled in already.
install(FILES ${QUARVEL_DEFINITION_FILES}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/quarvel/instruments/examples COMPONENT applications)
