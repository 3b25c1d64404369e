# Wayland client code generated at build time by wayland-scanner from the protocol descriptions
# Debian's wayland-protocols ships, so that no protocol's marshalling is written by hand.
#
# TAVISK_WAYLAND_FOUND: wayland-client, wayland-scanner and wayland-protocols are all there.
# tavisk_wayland_client_code(<target> <protocol path>...): adds the generated code of each
# protocol (a path under wayland-protocols, e.g. unstable/xdg-foreign/xdg-foreign-unstable-v2.xml)
# to target, with its header in target's include path.
find_package(PkgConfig QUIET)
set(TAVISK_WAYLAND_FOUND FALSE)
if(PkgConfig_FOUND)
    pkg_check_modules(WAYLAND_CLIENT QUIET IMPORTED_TARGET wayland-client)
    pkg_get_variable(TAVISK_WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
    pkg_get_variable(TAVISK_WAYLAND_SCANNER wayland-scanner wayland_scanner)
    # The scanner runs here: in a cross build the target's pkg-config names the sysroot's own,
    # which is of the other architecture. This machine's (libwayland-bin) writes the same code.
    if(CMAKE_CROSSCOMPILING)
        find_program(TAVISK_BUILD_WAYLAND_SCANNER wayland-scanner NO_CMAKE_FIND_ROOT_PATH)
        set(TAVISK_WAYLAND_SCANNER ${TAVISK_BUILD_WAYLAND_SCANNER})
    endif()
    if(WAYLAND_CLIENT_FOUND AND TAVISK_WAYLAND_PROTOCOLS_DIR AND TAVISK_WAYLAND_SCANNER)
        set(TAVISK_WAYLAND_FOUND TRUE)
    endif()
endif()

function(tavisk_wayland_client_code target)
    set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/wayland-${target})
    file(MAKE_DIRECTORY ${out_dir})
    foreach(protocol IN LISTS ARGN)
        set(xml ${TAVISK_WAYLAND_PROTOCOLS_DIR}/${protocol})
        get_filename_component(name ${protocol} NAME_WE)
        add_custom_command(
            OUTPUT ${out_dir}/${name}-client-protocol.h ${out_dir}/${name}-protocol.c
            COMMAND ${TAVISK_WAYLAND_SCANNER} client-header ${xml} ${out_dir}/${name}-client-protocol.h
            COMMAND ${TAVISK_WAYLAND_SCANNER} private-code ${xml} ${out_dir}/${name}-protocol.c
            DEPENDS ${xml}
            VERBATIM)
        target_sources(${target} PRIVATE
            ${out_dir}/${name}-client-protocol.h ${out_dir}/${name}-protocol.c)
    endforeach()
    target_include_directories(${target} PRIVATE ${out_dir})
    target_link_libraries(${target} PRIVATE PkgConfig::WAYLAND_CLIENT)
endfunction()
