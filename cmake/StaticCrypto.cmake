# Decides whether OpenSSL's libcrypto goes into the module statically.
#
# With QUARN_STATIC_CRYPTO on, a trial build links a small shared library
# against the static libcrypto, the way the module will be linked. It succeeds
# only when a static libcrypto exists and was built as position-independent
# code; then OPENSSL_USE_STATIC_LIBS is set for the find_package(OpenSSL) that
# follows, and the module needs no libcrypto where it is installed. Otherwise
# the shared libcrypto is used (a wheel then gets it bundled by auditwheel,
# delocate or delvewheel). libssl is never linked.

if(NOT QUARN_STATIC_CRYPTO)
  return()
endif()

# The trial project configures on its own; hand it what decides how and
# against what it compiles. List values keep their separators escaped.
set(_quarn_probe_flags)
foreach(var OPENSSL_ROOT_DIR CMAKE_PREFIX_PATH CMAKE_TOOLCHAIN_FILE CMAKE_CXX_COMPILER CMAKE_BUILD_TYPE
            CMAKE_OSX_ARCHITECTURES CMAKE_OSX_DEPLOYMENT_TARGET CMAKE_OSX_SYSROOT CMAKE_MSVC_RUNTIME_LIBRARY)
  if(DEFINED ${var} AND NOT "${${var}}" STREQUAL "")
    string(REPLACE ";" "\\;" _quarn_value "${${var}}")
    list(APPEND _quarn_probe_flags "-D${var}=${_quarn_value}")
  endif()
endforeach()

try_compile(QUARN_STATIC_CRYPTO_LINKS
  PROJECT quarn_crypto_probe
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/crypto-probe
  BINARY_DIR ${CMAKE_CURRENT_BINARY_DIR}/crypto-probe
  CMAKE_FLAGS ${_quarn_probe_flags}
  OUTPUT_VARIABLE _quarn_probe_output)

if(QUARN_STATIC_CRYPTO_LINKS)
  set(OPENSSL_USE_STATIC_LIBS TRUE)
  message(STATUS "quarn_core: linking the static libcrypto")
else()
  message(STATUS "quarn_core: no static libcrypto that links into a shared library "
                 "(missing, or not position-independent); linking the shared libcrypto")
endif()
