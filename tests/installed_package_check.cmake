# cmake -DBUILD=... -DSOURCE=... -DWORK=... -DCXX=... -DCC=... [-DPRELOAD=...] -P installed_package_check.cmake
# Installs zeblix into a fresh prefix and builds what a user outside the project builds: the
# example product against the block header, and the C++ and C example programs against libzeblix
# with find_package(zeblix) and, for C99, with pkg-config; and, unchanged, the same examples as
# the last release shipped them (tests/compat). Every program's report of the product and of the
# installed utility must be the utility's own, byte for byte; a Python ctypes script reads the
# same records through the shared library; the manual pages render without warnings. The shared
# library's ABI is compared with abidiff against the last release's (lib/abi), and every binary
# installed carries exactly one version block of its own. PRELOAD names the sanitizer runtime a
# sanitized library needs when Python loads it.
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
foreach(example product scan_api compat/product compat/scan_api)
  set(source ${SOURCE}/examples/${example})
  if(example MATCHES "^compat/")
    string(REPLACE "compat/" "${SOURCE}/tests/compat/6.3.0/" source ${example})
  endif()
  run(${CMAKE_COMMAND} -S ${source} -B ${WORK}/${example}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC}
      -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${WORK}/${example})
endforeach()

# What the last release exported is still there, with the same types.
find_program(ABIDIFF abidiff REQUIRED)
execute_process(COMMAND ${ABIDIFF} --headers-dir2 ${prefix}/include/zeblix
                        ${SOURCE}/lib/abi/libzeblix.so.6.abi ${prefix}/lib/libzeblix.so.6
                RESULT_VARIABLE result OUTPUT_VARIABLE report)
math(EXPR incompatible "${result} & (1 | 2 | 8)")  # an error, a usage error, an incompatible change
if(NOT incompatible EQUAL 0)
  message(FATAL_ERROR "libzeblix breaks the ABI of the last release (abidiff ${result}):\n${report}")
endif()

# Every binary installed carries its own block, and nothing else reads as one.
run(${prefix}/bin/zeblix-inventory -q --no-archives ${prefix})
string(REGEX MATCHALL "\"path\":\"[^\"]*\",[^\n]*\"product_name\":\"[^\"]*\"" found "${out}")
set(names "")
foreach(line ${found})
  string(REGEX REPLACE ".*\"path\":\"${prefix}/([^\"]*)\".*\"product_name\":\"([^\"]*)\".*" "\\1 \\2" name "${line}")
  list(APPEND names "${name}")
endforeach()
string(REGEX REPLACE "python[0-9.]+/(site|dist)-packages" "PY" names "${names}")
list(SORT names)
set(expected "bin/zeblix zeblix" "bin/zeblix-block zeblix-block"
    "bin/zeblix-inventory zeblix-inventory" "lib/PY/zeblix/_zeblix.abi3.so python3-zeblix"
    "lib/libzeblix.a libzeblix" "lib/libzeblix.so libzeblix" "lib/libzeblix.so.6 libzeblix"
    "lib/libzeblix.so.${VERSION} libzeblix" "lib/libzeblix-inventory.so libzeblix-inventory"
    "lib/libzeblix-inventory.so.6 libzeblix-inventory"
    "lib/libzeblix-inventory.so.${VERSION} libzeblix-inventory")  # links found as the files they name
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "the blocks of the installed binaries:\n${names}\nexpected:\n${expected}")
endif()

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
    run(${prefix}/bin/zeblix widget WORKING_DIRECTORY ${WORK}/compat/product)
    file(READ ${SOURCE}/tests/compat/6.3.0/product/expected_report.txt widget_report)
    if(NOT out STREQUAL widget_report)
      message(FATAL_ERROR "report of the last release's example product:\n${out}")
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
