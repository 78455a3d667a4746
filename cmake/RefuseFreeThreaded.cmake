# quarn_refuse_free_threaded(python): stops the configuration when the
# interpreter the module is built for is a free-threaded CPython build
# (sysconfig's Py_GIL_DISABLED is 1, as on 3.13t, 3.14t and 3.15t). The module
# is built against the stable ABI of 3.10 (abi3): free-threaded builds before
# 3.15 have no limited API at all (Python.h stops the compiler), and 3.15's
# free-threaded stable ABI (abi3t) needs changes this module has not made.
# Stopping here says so in words instead of a compiler error inside Python.h.

function(quarn_refuse_free_threaded python)
  execute_process(
    COMMAND "${python}" -c "import sys, sysconfig; print(sysconfig.get_config_var('Py_GIL_DISABLED') or 0, '%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE out RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "quarn_core: cannot ask ${python} whether it is a free-threaded build")
  endif()
  separate_arguments(out)
  list(GET out 0 gil_disabled)
  list(GET out 1 version)
  if(gil_disabled)
    message(FATAL_ERROR
      "quarn_core does not build for free-threaded CPython: ${python} is a free-threaded build "
      "of CPython ${version} (Py_GIL_DISABLED).\n"
      "The module uses CPython's stable ABI (limited API 3.10, one abi3 wheel), which free-threaded "
      "builds do not load and, before 3.15, cannot compile against; 3.15's free-threaded stable ABI "
      "(abi3t) is not supported yet.\n"
      "Use a standard build of CPython 3.10 or newer (with the GIL), for example python${version} "
      "instead of python${version}t.")
  endif()
endfunction()
