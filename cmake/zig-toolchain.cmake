# Cross compilation with zig's clang (the ziglang package from PyPI).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/zig-toolchain.cmake \
#         -DQUARN_ZIG=/path/to/zig -DQUARN_ZIG_TARGET=aarch64-linux-musl ...
#
# QUARN_ZIG is zig's executable (`python -c "import ziglang, os;
# print(os.path.dirname(ziglang.__file__))"` holds it) and QUARN_ZIG_TARGET a
# zig target: x86_64-linux-gnu.2.17 (glibc 2.17, manylinux2014),
# aarch64-linux-musl, aarch64-macos, x86_64-windows-gnu, ... Both may also come
# from the environment (same names).
#
# zig compiles against the libc of the target that it carries (glibc stubs of
# the version named, musl, mingw-w64, macOS's libSystem stubs) and links its
# own libc++, libc++abi and libunwind statically, so a module built here needs
# the C library and nothing else. zig turns on trapping UndefinedBehaviorSanitizer
# (and builds its C++ library so) when no optimisation level is given, as in a
# Debug build; the optimised build types below also say -fno-sanitize=all.

foreach(var QUARN_ZIG QUARN_ZIG_TARGET)
  if(NOT DEFINED ${var} AND DEFINED ENV{${var}})
    set(${var} "$ENV{${var}}")
  endif()
  if(NOT ${var})
    message(FATAL_ERROR "zig-toolchain.cmake: ${var} is not set")
  endif()
endforeach()
# try_compile projects read this file again and need the same two values.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUARN_ZIG QUARN_ZIG_TARGET)

string(REGEX MATCH "^[^-]+" _quarn_zig_arch "${QUARN_ZIG_TARGET}")
if(QUARN_ZIG_TARGET MATCHES "-linux")
  set(CMAKE_SYSTEM_NAME Linux)
  if(QUARN_ZIG_TARGET MATCHES "-musl")
    # The C library's name on musl systems, which the module is to record
    # (CMakeLists.txt renames zig's libc.so to it).
    set(QUARN_ZIG_MUSL_LIBC "libc.musl-${_quarn_zig_arch}.so.1")
  else()
    # The module then carries what its unwinder needs of libpthread and libdl
    # (CMakeLists.txt adds src/platform/glibc_unwind.cpp).
    set(QUARN_ZIG_GLIBC ON)
  endif()
elseif(QUARN_ZIG_TARGET MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  # zig's own macOS floor for the target (11.0 for both CPUs of zig 0.17).
  set(CMAKE_OSX_ARCHITECTURES "")
elseif(QUARN_ZIG_TARGET MATCHES "-windows")
  set(CMAKE_SYSTEM_NAME Windows)
else()
  message(FATAL_ERROR "zig-toolchain.cmake: no system known for ${QUARN_ZIG_TARGET}")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${_quarn_zig_arch})

# zig takes its tool as the first argument (zig c++, zig ar, ...); CMake wants
# one program per tool, so small scripts in the build tree stand in.
set(_quarn_zig_bin "${CMAKE_BINARY_DIR}/zig-bin")
foreach(tool cc c++ ar ranlib dlltool)
  set(_quarn_args "${tool}")
  if(tool STREQUAL "cc" OR tool STREQUAL "c++")
    set(_quarn_args "${tool} -target ${QUARN_ZIG_TARGET}")
  endif()
  file(CONFIGURE OUTPUT "${_quarn_zig_bin}/zig-${tool}"
       CONTENT "#!/bin/sh\nexec \"${QUARN_ZIG}\" ${_quarn_args} \"$@\"\n" @ONLY)
  file(CHMOD "${_quarn_zig_bin}/zig-${tool}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
       GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CMAKE_C_COMPILER "${_quarn_zig_bin}/zig-cc")
set(CMAKE_CXX_COMPILER "${_quarn_zig_bin}/zig-c++")
set(CMAKE_AR "${_quarn_zig_bin}/zig-ar" CACHE FILEPATH "zig ar")
set(CMAKE_RANLIB "${_quarn_zig_bin}/zig-ranlib" CACHE FILEPATH "zig ranlib")
# Link-time optimisation of static libraries goes through the same tools.
set(CMAKE_CXX_COMPILER_AR "${CMAKE_AR}" CACHE FILEPATH "zig ar")
set(CMAKE_CXX_COMPILER_RANLIB "${CMAKE_RANLIB}" CACHE FILEPATH "zig ranlib")
set(QUARN_ZIG_DLLTOOL "${_quarn_zig_bin}/zig-dlltool" CACHE FILEPATH "zig dlltool")

# zig's clang also keeps frame pointers and writes debug information unless
# told otherwise; the optimised builds drop both, as GCC's do.
foreach(config RELEASE MINSIZEREL)
  set(CMAKE_CXX_FLAGS_${config}_INIT "-fno-sanitize=all -fomit-frame-pointer -g0")
  set(CMAKE_C_FLAGS_${config}_INIT "-fno-sanitize=all -fomit-frame-pointer -g0")
endforeach()
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO_INIT "-fno-sanitize=all")
set(CMAKE_C_FLAGS_RELWITHDEBINFO_INIT "-fno-sanitize=all")

# zig builds its C++ library for each target, optimisation level and use of
# link-time optimisation the first time a program links with it (a minute or
# two each). CMake's checks therefore only compile (naming the target makes
# CMake identify the compiler by compiling alone), and what the project's link
# checks would find is given here instead: for ELF, lld optimises at link time
# and reads version scripts; zig's Mach-O linker does neither and has no
# -exported_symbol; for Windows, zig's C library for mingw-w64 misses math
# functions when linked with link-time optimisation, so that is left off.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_COMPILER_TARGET ${QUARN_ZIG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${QUARN_ZIG_TARGET})
if(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
  set(QUARN_TOOLCHAIN_IPO OFF)
  set(QUARN_HAS_EXPORTED_SYMBOL 0 CACHE INTERNAL "zig's Mach-O linker has no -exported_symbol")
  # zig's Mach-O linker crashes on -bundle (CMake's flag for a module on
  # macOS); the module is linked as a dynamic library, which CPython loads
  # just the same.
  file(WRITE "${_quarn_zig_bin}/macos-rules.cmake"
       "set(CMAKE_SHARED_MODULE_CREATE_CXX_FLAGS \"-shared -Wl,-headerpad_max_install_names\")\n")
  set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX "${_quarn_zig_bin}/macos-rules.cmake")
elseif(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(QUARN_TOOLCHAIN_IPO OFF)
else()
  set(QUARN_TOOLCHAIN_IPO ON)
  set(QUARN_HAS_VERSION_SCRIPT 1 CACHE INTERNAL "lld reads version scripts")
endif()

# Nothing of this machine's own libraries and headers belongs in the build.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
