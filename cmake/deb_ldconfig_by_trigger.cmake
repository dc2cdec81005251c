# Run by CPack after it has built the packages (CPACK_POST_BUILD_SCRIPTS).
#
# CPack writes a postinst and a postrm that call ldconfig into every package
# with a shared library under /usr/lib. The library package declares the
# ldconfig trigger instead (packaging/library/triggers), as Debian asks; the
# scripts are then redundant, and the postrm would keep the package known to
# dpkg ("config-files") after `dpkg -r`. They are taken out here.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    set(tree ${deb}.tree)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    if(EXISTS ${tree}/DEBIAN/triggers)
        file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
        execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${deb}
            OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    endif()
    file(REMOVE_RECURSE ${tree})
endforeach()
