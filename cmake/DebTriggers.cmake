# Runs after CPack has built the Debian packages (CPACK_POST_BUILD_SCRIPTS). CPack gives a
# package with a shared library postinst and postrm scripts that call ldconfig; Debian wants
# the ldconfig trigger instead. This rebuilds such a package with the trigger and without those
# two scripts; its files and their checksums stay as they are.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    get_filename_component(name ${package} NAME)
    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/retrigger/${name})
    file(REMOVE_RECURSE ${tree})
    file(MAKE_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}/retrigger)
    execute_process(COMMAND dpkg-deb -R ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    if(NOT EXISTS ${tree}/DEBIAN/shlibs)
        file(REMOVE_RECURSE ${tree})
        continue()
    endif()
    file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
    file(WRITE ${tree}/DEBIAN/triggers "activate-noawait ldconfig\n")
    file(CHMOD ${tree}/DEBIAN/triggers PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package}
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
    message(STATUS "${name}: ldconfig trigger instead of maintainer scripts")
endforeach()
