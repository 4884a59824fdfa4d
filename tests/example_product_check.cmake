# cmake -DBUILD=... -DSOURCE=... -DWORK=... -DCXX=... -P example_product_check.cmake
# Installs zeblix into a fresh prefix, builds the example product against the installed header
# with find_package(zeblix), and checks the installed utility's report of the product, and that
# the installed manual page renders without warnings.
file(REMOVE_RECURSE ${WORK})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE}/examples/product -B ${WORK}/product
    -DCMAKE_PREFIX_PATH=${WORK}/prefix -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/product)
execute_process(COMMAND ${WORK}/prefix/bin/zeblix widget WORKING_DIRECTORY ${WORK}/product
                OUTPUT_VARIABLE report RESULT_VARIABLE result)
file(READ ${SOURCE}/examples/product/expected_report.txt expected)
if(NOT result EQUAL 0 OR NOT report STREQUAL expected)
  message(FATAL_ERROR "report of the example product:\n${report}\nexpected:\n${expected}")
endif()

find_program(MAN man)
if(MAN)
  run(${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${WORK}/prefix/share/man/man1/zeblix.1)
  if(NOT err STREQUAL "")
    message(FATAL_ERROR "manual page warnings:\n${err}")
  endif()
endif()
