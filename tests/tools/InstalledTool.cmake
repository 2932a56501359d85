# Installs the build into PREFIX and runs the installed quarn: a sample scan, then an import
# that must load the plug-in from PREFIX/lib, with no library path help from the environment.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/quarn lib/libQuarnDotProduct.so lib/libDotProduct_x64.so)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

unset(ENV{LD_LIBRARY_PATH})
execute_process(
  COMMAND "${PREFIX}/bin/quarn" sample --output "${PREFIX}/s.scan" --frames 2 --width 16 --height 12
  RESULT_VARIABLE result ERROR_VARIABLE error OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "installed quarn sample failed: ${result} ${error}")
endif()
execute_process(
  COMMAND "${PREFIX}/bin/quarn" import "${PREFIX}/s.scan" --output "${PREFIX}/s.ply"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "installed quarn import failed: ${result} ${error}")
endif()
string(FIND "${output}" "plug-in ${PREFIX}/bin/../lib/libQuarnDotProduct.so" at)
if(at EQUAL -1 OR NOT EXISTS "${PREFIX}/s.ply")
  message(FATAL_ERROR "installed quarn did not import through the installed plug-in:\n${output}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
