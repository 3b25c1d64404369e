# Strict, warning-free builds; every UTF-8 conversion to Qt text is written out.
add_compile_options(
    -Wall -Wextra -Wpedantic
    -Werror=return-type
    # C++ only: the client library's examples and header checks are C.
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
    $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual>
)
add_compile_definitions(
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS
)

if(TAVISK_SANITIZE)
    add_compile_options(-fsanitize=${TAVISK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${TAVISK_SANITIZE})
endif()

# TAVISK_FUZZ: every object carries libFuzzer's coverage instrumentation, so the core library is
# fuzzed with feedback from its own branches; only the fuzz executables link the fuzzing engine
# (-fsanitize=fuzzer, added in tests/fuzz).
if(TAVISK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR
            "TAVISK_FUZZ=ON needs clang (libFuzzer), but the C++ compiler is "
            "${CMAKE_CXX_COMPILER_ID}. Configure a fresh build directory with "
            "CC=clang CXX=clang++, or set TAVISK_FUZZ=OFF.")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_link_options(-fsanitize=fuzzer-no-link)
endif()
