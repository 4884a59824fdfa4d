# cmake -DBUILD=... -DSOURCE=... -DWORK=... -DCXX=... -DCC=... [-DPRELOAD=...] -P installed_package_check.cmake
# Installs zeblix into a fresh prefix and builds what a user outside the project builds: the
# example product against the block header, and the C++ and C example programs against libzeblix
# with find_package(zeblix) and, for C99, with pkg-config. Every program's report of the product
# and of the installed utility must be the utility's own, byte for byte; a Python ctypes script
# reads the same records through the shared library; the manual pages render without warnings.
# PRELOAD names the sanitizer runtime a sanitized library needs when Python loads it.
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
foreach(example product scan_api)
  run(${CMAKE_COMMAND} -S ${SOURCE}/examples/${example} -B ${WORK}/${example}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC}
      -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${WORK}/${example})
endforeach()

# The C example again, as a Makefile would build it.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(pkg-config --cflags --libs zeblix)
string(STRIP "${out}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CC} -std=c99 -pedantic -Wall -Wextra -Werror ${SOURCE}/examples/scan_api/report.c ${flags}
    -Wl,-rpath,${prefix}/lib -o ${WORK}/report_pkg_config)

file(COPY ${prefix}/bin/zeblix ${WORK}/product/widget DESTINATION ${WORK}/files)
set(ENV{ASAN_OPTIONS} verify_asan_link_order=0:detect_leaks=0)
foreach(file widget zeblix)
  run(${prefix}/bin/zeblix ${file} WORKING_DIRECTORY ${WORK}/files)
  set(expected "${out}")
  if(file STREQUAL widget)
    file(READ ${SOURCE}/examples/product/expected_report.txt widget_report)
    if(NOT expected STREQUAL widget_report)
      message(FATAL_ERROR "report of the example product:\n${expected}\nexpected:\n${widget_report}")
    endif()
  endif()
  foreach(program ${WORK}/scan_api/report_cxx ${WORK}/scan_api/report_c ${WORK}/report_pkg_config)
    run(${program} ${file} WORKING_DIRECTORY ${WORK}/files)
    if(NOT out STREQUAL expected)
      message(FATAL_ERROR "${program} ${file}:\n${out}\nexpected:\n${expected}")
    endif()
  endforeach()
  run(${CMAKE_COMMAND} -E env LD_PRELOAD=${PRELOAD}
      python3 ${SOURCE}/tests/ctypes_report.py ${prefix}/lib/libzeblix.so.6 ${file}
      WORKING_DIRECTORY ${WORK}/files)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "Python ctypes ${file}:\n${out}\nexpected:\n${expected}")
  endif()
endforeach()

find_program(MAN man)
if(MAN)
  file(GLOB pages ${prefix}/share/man/man1/*.1.gz)
  foreach(page ${pages})
    run(${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${page})
    if(NOT err STREQUAL "")
      message(FATAL_ERROR "manual page ${page} warnings:\n${err}")
    endif()
  endforeach()
endif()
