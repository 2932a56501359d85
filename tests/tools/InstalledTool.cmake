# Installs the build into PREFIX and runs what is installed, with no library path help from the
# environment: quarn writes a sample scan and imports it through the plug-in in PREFIX/lib, and
# Python's quarn package, where it is built, reads it through the same plug-in.
file(REMOVE_RECURSE "${PREFIX}")
unset(ENV{LD_LIBRARY_PATH})
set(scan "${PREFIX}/s.scan")
function(run expected)  # runs ARGN, which must succeed and print `expected`
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "${expected}" at)
  if(failed OR at EQUAL -1)
    message(FATAL_ERROR "${ARGN}: ${failed}\n${out}${err}")
  endif()
endfunction()
run("" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}")
run("wrote ${scan}" "${PREFIX}/bin/quarn" sample -o "${scan}" --frames 2 --width 16 --height 12)
run("plug-in ${PREFIX}/bin/../lib/libQuarnDotProduct.so"
  "${PREFIX}/bin/quarn" import "${scan}" -o "${PREFIX}/s.ply")
file(GLOB package "${PREFIX}/lib/python3*/dist-packages/quarn")
if(package)
  get_filename_component(packages "${package}" DIRECTORY)
  set(ENV{PYTHONPATH} "${packages}")
  run("384\n" /usr/bin/python3 -c "print(__import__('quarn').read('${scan}').pixels)")
endif()
file(REMOVE_RECURSE "${PREFIX}")
