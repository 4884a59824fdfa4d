# cmake -DCXX=... -DINCLUDE=... -DSOURCE=... -P compile_check.cmake
# The field checks of the version-block header happen at compile time: each faulty case must fail
# to compile, naming its fault, and the faultless case must compile.
set(cases
    "NONE|"
    "TOO_LONG|field_text_is_longer_than_its_field"
    "DELIMITER|field_text_holds_the_delimiter_text"
    "DOLLAR|field_text_holds_a_dollar_sign"
    "HIDES_DELIMITER|field_text_hides_its_closing_delimiter")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(LENGTH parts count)
  set(fault "")
  if(count GREATER 1)
    list(GET parts 1 fault)
  endif()
  execute_process(
    COMMAND ${CXX} -std=c++20 -fsyntax-only -I${INCLUDE} -DZEBLIX_CASE_${name} ${SOURCE}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  if(fault STREQUAL "")
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "the faultless block did not compile:\n${errors}")
    endif()
  elseif(result EQUAL 0)
    message(FATAL_ERROR "case ${name} compiled, but must not")
  elseif(NOT errors MATCHES "${fault}")
    message(FATAL_ERROR "case ${name} failed without naming ${fault}:\n${errors}")
  endif()
endforeach()
