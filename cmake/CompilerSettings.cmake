# Strict, warning-free builds; every UTF-8 conversion to Qt text is written out.
add_compile_options(
    -Wall -Wextra -Wpedantic
    -Werror=return-type -Wnon-virtual-dtor -Woverloaded-virtual
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
