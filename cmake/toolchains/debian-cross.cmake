# Cross-building for another Debian architecture against a sysroot of that architecture (an
# unpacked Debian system, e.g. from mmdebstrap --variant=extract), with Debian's cross compilers
# and this machine's Qt tools:
#   cmake -S . -B build-arm64 -G Ninja --toolchain cmake/toolchains/debian-cross.cmake \
#       -DCMAKE_SYSROOT=/path/to/arm64/sysroot [-DTAVISK_CROSS_ARCH=arm64]
# scripts/cross-arm64.sh makes the sysroot and runs this. The sysroot's Qt must be exactly this
# machine's Qt version: moc, rcc, uic and lrelease run here, and their output is read by the
# target's Qt headers and libraries.
set(TAVISK_CROSS_ARCH arm64 CACHE STRING "Debian architecture to build for (arm64, armhf)")
# Checked on every run of this file (try_compile runs it again, with no cache).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVISK_CROSS_ARCH)
if(TAVISK_CROSS_ARCH STREQUAL "arm64")
    set(tavisk_triplet aarch64-linux-gnu)
    set(CMAKE_SYSTEM_PROCESSOR aarch64)
elseif(TAVISK_CROSS_ARCH STREQUAL "armhf")
    set(tavisk_triplet arm-linux-gnueabihf)
    set(CMAKE_SYSTEM_PROCESSOR armv7l)
    # GCC notes on 32-bit ARM that the passing of some std:: types changed in GCC 7.1: all of
    # Debian's armhf C++ is built by later compilers, so nothing here meets the old convention.
    set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
else()
    message(FATAL_ERROR "TAVISK_CROSS_ARCH: arm64 or armhf, not '${TAVISK_CROSS_ARCH}'")
endif()
if(NOT CMAKE_SYSROOT)
    message(FATAL_ERROR "Cross-building needs -DCMAKE_SYSROOT=<a ${TAVISK_CROSS_ARCH} sysroot>")
endif()

set(CMAKE_SYSTEM_NAME Linux)
# crossbuild-essential-<arch>: gcc and g++ named by the GNU triplet.
set(CMAKE_C_COMPILER ${tavisk_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${tavisk_triplet}-g++)
# Debian's multiarch folder, both for finding the sysroot's libraries and for the install paths
# (lib/<triplet>) of the client library.
set(CMAKE_LIBRARY_ARCHITECTURE ${tavisk_triplet})

# Programs are this machine's; libraries, headers and CMake packages only the sysroot's.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's tools (moc, rcc, uic, lrelease) from this machine: without QT_HOST_PATH, Qt's CMake
# packages would name the sysroot's own tools, which cannot run here. Debian's Qt is built
# natively, so LinguistTools also needs Qt6HostInfo pointed at this machine's.
execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
    OUTPUT_VARIABLE tavisk_build_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${tavisk_build_multiarch}/cmake CACHE PATH "")
set(Qt6HostInfo_DIR ${QT_HOST_PATH_CMAKE_DIR}/Qt6HostInfo CACHE PATH "")

# pkg-config: the sysroot's .pc files, with their paths moved into the sysroot.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${CMAKE_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_SYSROOT}/usr/lib/${tavisk_triplet}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
