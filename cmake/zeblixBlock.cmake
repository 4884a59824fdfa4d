# zeblix_add_version_block(TARGET [SYMBOL name] COMPANY text DESCRIPTION text
#                          PRODUCT_VERSION text INTERNAL_NAME text COPYRIGHT text
#                          PRODUCT_NAME text BUILD_NUMBER text PATCH_LEVEL n RELEASE words
#                          FILE_OS words FILE_TYPE words)
#
# Puts a zeblix version block into TARGET (an executable, a shared, module or static library),
# written by zeblix-block as a source of the language the project builds (C where it is enabled,
# else C++), so that no value passes through a compiler or linker flag. The block is kept through
# optimisation (its source is compiled without LTO, so that an object or static library holds its
# bytes even when the project asks for interprocedural optimisation), --gc-sections and strip, for
# ELF and PE targets: the linker is asked for the symbol when the target is linked, and whatever
# links a static library asks for it too. SYMBOL defaults to TARGET_version_block. The generator
# is zeblix::block, or the target or program ZEBLIX_BLOCK_GENERATOR names.
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
  set(generator zeblix::block)
  if(ZEBLIX_BLOCK_GENERATOR)
    set(generator ${ZEBLIX_BLOCK_GENERATOR})
  endif()
  set(depends ${source}.values)
  if(TARGET ${generator})
    list(APPEND depends ${generator})
  endif()
  add_custom_command(OUTPUT ${source}
    COMMAND ${generator} ${options} -o ${source}
    DEPENDS ${depends}
    COMMENT "Writing the version block of ${target}" VERBATIM)
  # The target may have been made in another directory: the source is written before it builds.
  add_custom_target(${target}_version_block_source DEPENDS ${source})
  add_dependencies(${target} ${target}_version_block_source)
  target_sources(${target} PRIVATE ${source})
  set_source_files_properties(${source} TARGET_DIRECTORY ${target} PROPERTIES GENERATED TRUE
    COMPILE_OPTIONS "$<$<COMPILE_LANG_AND_ID:C,GNU,Clang,AppleClang>:-fno-lto>;$<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang,AppleClang>:-fno-lto>")
  target_link_libraries(${target} PRIVATE zeblix::version_block)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_link_options(${target} INTERFACE "LINKER:-u,${arg_SYMBOL}")
  else()
    target_link_options(${target} PRIVATE "LINKER:-u,${arg_SYMBOL}")
  endif()
endfunction()
