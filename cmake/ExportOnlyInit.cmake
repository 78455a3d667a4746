# quarn_export_only_init(target): the module exports PyInit_quarn_core and
# nothing else, also none of the symbols of static libraries linked into it
# whose objects are built with default visibility. Windows DLLs export only
# what is declared for export, which is already just the init.

include(CheckLinkerFlag)

function(quarn_export_only_init target)
  if(APPLE)
    # Apple's linker has the flag; zig's Mach-O linker (a cross build's link
    # check, cmake/zig-toolchain.cmake) has not, and there the symbols of the
    # module's own code stay hidden by their visibility alone.
    check_linker_flag(CXX "LINKER:-exported_symbol,_PyInit_quarn_core" QUARN_HAS_EXPORTED_SYMBOL)
    if(QUARN_HAS_EXPORTED_SYMBOL)
      target_link_options(${target} PRIVATE "LINKER:-exported_symbol,_PyInit_quarn_core")
    endif()
  elseif(NOT WIN32)
    set(map ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/quarn_core.map)
    check_linker_flag(CXX "LINKER:--version-script=${map}" QUARN_HAS_VERSION_SCRIPT)
    if(QUARN_HAS_VERSION_SCRIPT)
      target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
      set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
    endif()
  endif()
endfunction()
