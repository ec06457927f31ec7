# Debian's packages: libusb-dev (0.1 API), libmbedtls-dev (2.28), libssl-dev (OpenSSL 3),
# libp11-kit-dev (pkcs11.h). mbed TLS ships neither pkg-config files nor a CMake package.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb)
pkg_check_modules(P11KIT REQUIRED IMPORTED_TARGET p11-kit-1)

find_path(MBEDTLS_INCLUDE_DIR mbedtls/version.h REQUIRED)
find_library(MBEDCRYPTO_LIBRARY NAMES mbedcrypto REQUIRED)
find_library(MBEDX509_LIBRARY NAMES mbedx509 REQUIRED)

add_library(keycore_deps INTERFACE)
target_include_directories(keycore_deps SYSTEM INTERFACE ${MBEDTLS_INCLUDE_DIR} ${P11KIT_INCLUDE_DIRS})
target_link_libraries(keycore_deps INTERFACE
    ${MBEDX509_LIBRARY} ${MBEDCRYPTO_LIBRARY} OpenSSL::Crypto PkgConfig::LIBUSB Threads::Threads ${CMAKE_DL_LIBS})
target_compile_definitions(keycore_deps INTERFACE OPENSSL_SUPPRESS_DEPRECATED)
add_library(keycore::deps ALIAS keycore_deps)
