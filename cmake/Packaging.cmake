# Debian packages through CPack's DEB generator: `scripts/package.sh` builds them in one
# command. CPack rather than a debian/ directory because it packages the build tree the tests
# have just run, with no second configure and compile (dpkg-buildpackage would build again in a
# tree of its own, doubling the build time), and dpkg-shlibdeps still resolves the real
# dependencies from the binaries.
#
#   corvane-tavisk                the helper and corvane-tavisk-client (which links the client
#                                 library statically, so this package installs on its own)
#   libcorvane-tavisk-client1     the shared library, named after its SONAME
#   libcorvane-tavisk-client-dev  its header, pkg-config file and CMake package
#
# Each package carries the copyright file and a changelog.Debian.gz; manual pages are installed
# compressed (docs/CMakeLists.txt). Installed paths are relative to the prefix, so the main
# build tree, configured for /usr/local, packages for /usr as well.

# The packages are built on, and for, one Debian release: dpkg-shlibdeps takes their
# dependencies from that release's libraries (Debian 13's Qt 6.8 packages carry other names and
# versions than Debian 12's Qt 6.4). Each release's packages say which they are for in the
# Debian revision (1.0-1+deb12, 1.0-1+deb13), which also lets an upgrade of the system from one
# release to the next replace them. The changelog is the same for both.
file(STRINGS /etc/os-release tavisk_os_version REGEX "^VERSION_ID=")
set(tavisk_package_release 1)
if(tavisk_os_version MATCHES "^VERSION_ID=\"?([0-9]+)\"?$")
    set(tavisk_package_release 1+deb${CMAKE_MATCH_1})
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS /etc/os-release)
set(tavisk_package_version ${PROJECT_VERSION}-${tavisk_package_release})

# The two files every package's documentation folder must hold.
set(tavisk_changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${tavisk_changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${tavisk_changelog_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(tavisk_package_files ALL DEPENDS ${tavisk_changelog_gz})
foreach(component_package IN ITEMS runtime:corvane-tavisk library:libcorvane-tavisk-client1
                                   development:libcorvane-tavisk-client-dev)
    string(REPLACE ":" ";" pair ${component_package})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${tavisk_changelog_gz}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component}
        EXCLUDE_FROM_ALL)
    # One lintian tag does not apply to packages made outside Debian; the file says why.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${package}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane-tavisk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The corvane-tavisk developers <tavisk@corvane.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime library development)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${tavisk_package_release})
set(CPACK_DEBIAN_PACKAGE_SOURCE corvane-tavisk)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies from the binaries themselves (the Qt and C++ runtime libraries, with versions).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A cross build's packages are of the target's architecture (CPack would name this machine's),
# found from the toolchain's multiarch triplet. Their dependencies come from the sysroot's
# libraries and dpkg database, through scripts/cross/dpkg-shlibdeps (scripts/cross-package.sh).
if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND dpkg-architecture -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
        OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME corvane-tavisk)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION net)
# Kerberos single sign-on: the engine loads the GSSAPI library itself when a server allowed by
# the administrator asks for Negotiate; without it every other sign-in still works.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "libgssapi-krb5-2")
# Besides the libraries: Qt's own translations (the standard buttons, the engine's edit menu in
# the person's language), the current public suffix list (the origin strip's registrable
# domain) and p11-kit's trust module (the system's certificate authorities, which the helper
# loads into NSS by its path); the helper reads all three as files.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "qt6-translations-l10n, publicsuffix, p11-kit-modules")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
"graphical web sign-in helper for remote-desktop clients
A program that needs the result of an interactive web sign-in starts
corvane-tavisk as a child process and speaks newline-delimited JSON-RPC with
it over two descriptors. For each request the helper shows a browser window
(Qt WebEngine), lets the user sign in, and answers with the URL the identity
provider redirected to.
.
corvane-tavisk-client runs one sign-in from a shell and prints that URL.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libcorvane-tavisk-client1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# Each exported function with the version that brought it, so that a program built against a
# later version depends on that version; tests/e2e/package checks it against the library.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/symbols)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
"client library for the corvane-tavisk sign-in helper
libcorvane-tavisk-client starts the corvane-tavisk helper and runs web
sign-ins through it, with a small C API: a blocking call for scripts and
tools, and a pollable descriptor for event loops.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libcorvane-tavisk-client-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libcorvane-tavisk-client1 (= ${tavisk_package_version})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"client library for the corvane-tavisk sign-in helper (development files)
libcorvane-tavisk-client starts the corvane-tavisk helper and runs web
sign-ins through it, with a small C API.
.
This package holds the header, the pkg-config file and the CMake package
(find_package(CorvaneTaviskClient), target CorvaneTavisk::Client).")

set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebTriggers.cmake)

include(CPack)
