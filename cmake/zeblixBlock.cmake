# zeblix_add_version_block(TARGET [SYMBOL name] COMPANY text DESCRIPTION text
#                          PRODUCT_VERSION text INTERNAL_NAME text COPYRIGHT text
#                          PRODUCT_NAME text BUILD_NUMBER text PATCH_LEVEL n RELEASE words
#                          FILE_OS words FILE_TYPE words)
#
# Puts a zeblix version block into TARGET (an executable, a shared or a static library), written
# by zeblix-block as a source of the language the project builds (C where it is enabled, else
# C++), so that no value passes through a compiler or linker flag. The block is kept through
# optimisation, --gc-sections and strip; whatever links a static library carries its block too
# (the linker is asked for the symbol). SYMBOL defaults to TARGET_version_block.
function(zeblix_add_version_block target)
  set(fields COMPANY DESCRIPTION PRODUCT_VERSION INTERNAL_NAME COPYRIGHT PRODUCT_NAME BUILD_NUMBER
             PATCH_LEVEL RELEASE FILE_OS FILE_TYPE)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SYMBOL;${fields}" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zeblix_add_version_block: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_SYMBOL)
    string(MAKE_C_IDENTIFIER "${target}_version_block" arg_SYMBOL)
  endif()
  set(options --symbol=${arg_SYMBOL})
  foreach(field IN LISTS fields)
    if(DEFINED arg_${field})
      string(TOLOWER "${field}" option)
      string(REPLACE "_" "-" option "${option}")
      # A semicolon in a text must not split the command's arguments.
      string(REPLACE ";" "$<SEMICOLON>" value "${arg_${field}}")
      list(APPEND options "--${option}=${value}")
    endif()
  endforeach()
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  set(suffix c)
  if(NOT "C" IN_LIST languages)
    set(suffix cpp)
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.${suffix})
  # The values are a dependency of their own, so that changing one writes the block again.
  string(REPLACE ";" "\n" values "${options}")
  file(CONFIGURE OUTPUT ${source}.values CONTENT "${values}\n")
  add_custom_command(OUTPUT ${source}
    COMMAND zeblix::block ${options} -o ${source}
    DEPENDS zeblix::block ${source}.values
    COMMENT "Writing the version block of ${target}" VERBATIM)
  target_sources(${target} PRIVATE ${source})
  target_link_libraries(${target} PRIVATE zeblix::version_block)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_link_options(${target} INTERFACE "LINKER:-u,${arg_SYMBOL}")
  endif()
endfunction()
