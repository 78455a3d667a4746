# Decides whether OpenSSL's libcrypto goes into the module statically.
#
# Source builds (the default, QUARN_STATIC_CRYPTO off) link the system's shared
# libcrypto, which receives the distribution's security fixes. Wheels turn the
# option on (the cibuildwheel configuration in pyproject.toml and `scripts/dev
# wheel`) so that the module needs no OpenSSL where it is installed.
#
# With the option on, a static libcrypto is used only when a trial build shows
# that the module will load: the trial links a small shared library against the
# static libcrypto together with libcrypto's private link dependencies (from
# pkg-config's `--static` flags: zlib, zstd, ... depending on how OpenSSL was
# built), and a small program loads that library and hashes a known text with
# it. If either step fails, or the trial cannot be run (cross-compiling), the
# shared libcrypto is linked and a message says why; a wheel then gets it
# bundled by auditwheel, delocate or delvewheel. libssl is never linked.
#
# Results: QUARN_STATIC_CRYPTO_LINKS (true when the static library is used) and
# QUARN_CRYPTO_PRIVATE_LIBS (what to link beside it).

set(QUARN_STATIC_CRYPTO_LINKS FALSE)
set(QUARN_CRYPTO_PRIVATE_LIBS)
if(NOT QUARN_STATIC_CRYPTO)
  return()
endif()

# libcrypto's private dependencies, as names for the linker (-lz -> z). The
# threads and dl libraries come with FindOpenSSL's static target already.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  if(OPENSSL_ROOT_DIR)
    set(ENV{PKG_CONFIG_PATH} "${OPENSSL_ROOT_DIR}/lib/pkgconfig:${OPENSSL_ROOT_DIR}/lib64/pkgconfig:$ENV{PKG_CONFIG_PATH}")
  endif()
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --static --libs-only-l libcrypto
                  OUTPUT_VARIABLE _quarn_pc_libs OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _quarn_pc_result ERROR_QUIET)
  if(_quarn_pc_result EQUAL 0)
    separate_arguments(_quarn_pc_libs UNIX_COMMAND "${_quarn_pc_libs}")
    foreach(flag IN LISTS _quarn_pc_libs)
      string(REGEX REPLACE "^-l" "" name "${flag}")
      if(NOT name STREQUAL "crypto" AND NOT name STREQUAL "ssl")
        list(APPEND QUARN_CRYPTO_PRIVATE_LIBS ${name})
      endif()
    endforeach()
    list(REMOVE_DUPLICATES QUARN_CRYPTO_PRIVATE_LIBS)
  endif()
endif()

# The trial project configures on its own; hand it what decides how and
# against what it compiles. List values keep their separators escaped.
set(_quarn_probe_flags)
foreach(var OPENSSL_ROOT_DIR CMAKE_PREFIX_PATH CMAKE_TOOLCHAIN_FILE CMAKE_CXX_COMPILER CMAKE_BUILD_TYPE
            CMAKE_OSX_ARCHITECTURES CMAKE_OSX_DEPLOYMENT_TARGET CMAKE_OSX_SYSROOT CMAKE_MSVC_RUNTIME_LIBRARY
            QUARN_CRYPTO_PRIVATE_LIBS)
  if(DEFINED ${var} AND NOT "${${var}}" STREQUAL "")
    string(REPLACE ";" "\\;" _quarn_value "${${var}}")
    list(APPEND _quarn_probe_flags "-D${var}=${_quarn_value}")
  endif()
endforeach()

set(_quarn_probe_dir ${CMAKE_CURRENT_BINARY_DIR}/crypto-probe)
try_compile(_quarn_probe_linked
  PROJECT quarn_crypto_probe
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/crypto-probe
  BINARY_DIR ${_quarn_probe_dir}
  CMAKE_FLAGS ${_quarn_probe_flags}
  OUTPUT_VARIABLE _quarn_probe_output)

set(_quarn_why "")
if(NOT _quarn_probe_linked)
  string(CONCAT _quarn_why "no static libcrypto that links into a shared library together with its private dependencies "
                 "(${QUARN_CRYPTO_PRIVATE_LIBS}): missing, not position-independent, or a dependency's "
                 "development files are not installed")
elseif(CMAKE_CROSSCOMPILING)
  set(_quarn_why "cross-compiling: the trial module cannot be loaded here")
else()
  # The trial project writes where its loader and module are.
  file(STRINGS ${_quarn_probe_dir}/probe-paths.txt _quarn_probe_paths)
  list(GET _quarn_probe_paths 0 _quarn_loader)
  list(GET _quarn_probe_paths 1 _quarn_module)
  execute_process(COMMAND ${_quarn_loader} ${_quarn_module}
                  RESULT_VARIABLE _quarn_load_result OUTPUT_VARIABLE _quarn_load_output
                  ERROR_VARIABLE _quarn_load_output TIMEOUT 60)
  if(NOT _quarn_load_result EQUAL 0)
    string(STRIP "${_quarn_load_output}" _quarn_load_output)
    set(_quarn_why "a module linked with the static libcrypto does not load: ${_quarn_load_output}")
  endif()
endif()

if(_quarn_why STREQUAL "")
  set(QUARN_STATIC_CRYPTO_LINKS TRUE)
  set(OPENSSL_USE_STATIC_LIBS TRUE)
  message(STATUS "quarn_core: linking the static libcrypto (with: ${QUARN_CRYPTO_PRIVATE_LIBS})")
else()
  set(QUARN_CRYPTO_PRIVATE_LIBS)
  message(STATUS "quarn_core: ${_quarn_why}; linking the shared libcrypto")
endif()
