# Installation layout and the Debian packages: zeblix (the tools), libzeblix6 (the shared
# library), libzeblix-dev (headers, static library, CMake and pkg-config files) and, where the
# Python module is built, python3-zeblix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(tools_doc ${CMAKE_INSTALL_DATADIR}/doc/zeblix)

# Manual pages and changelogs are installed gzipped, without a time stamp, as Debian keeps them.
function(zeblix_gzip source output)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9nc ${source} > ${output} DEPENDS ${source}
                     VERBATIM)
endfunction()
# A manual page names the release it documents, made from the one version.
function(zeblix_manual_page name output)
  configure_file(${PROJECT_SOURCE_DIR}/man/${name}.in ${PROJECT_BINARY_DIR}/man/${name} @ONLY)
  zeblix_gzip(${PROJECT_BINARY_DIR}/man/${name} ${output})
endfunction()
set(tools zeblix)
set(manual_pages ${PROJECT_BINARY_DIR}/zeblix.1.gz)
zeblix_manual_page(zeblix.1 ${PROJECT_BINARY_DIR}/zeblix.1.gz)
if(TARGET zeblix-inventory)
  list(APPEND tools zeblix-inventory)
  list(APPEND manual_pages ${PROJECT_BINARY_DIR}/zeblix-inventory.1.gz)
  zeblix_manual_page(zeblix-inventory.1 ${PROJECT_BINARY_DIR}/zeblix-inventory.1.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/inventory/zeblix-inventory.schema.json
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zeblix COMPONENT tools)
else()
  # The Debian package promises both tools: building it without the inventory is an error.
  set(no_inventory ${PROJECT_BINARY_DIR}/cpack_requires_inventory.cmake)
  file(WRITE ${no_inventory} "message(FATAL_ERROR \"the zeblix package holds zeblix-inventory, \
which was not built: install nlohmann-json3-dev, libarchive-dev, zlib1g-dev, libbz2-dev, \
liblzma-dev, libzstd-dev, pkg-config, libssl-dev and libsqlite3-dev and configure again\")\n")
  set(CPACK_PRE_BUILD_SCRIPTS ${no_inventory})
endif()
zeblix_manual_page(zeblix-block.1 ${PROJECT_BINARY_DIR}/zeblix-block.1.gz)
# The changelog is the release's history, written by hand: it must tell of this release.
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^zeblix \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog has no entry for ${PROJECT_VERSION} at its top")
endif()
zeblix_gzip(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_target(zeblix_compressed_docs ALL
                  DEPENDS ${manual_pages} ${PROJECT_BINARY_DIR}/zeblix-block.1.gz
                          ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/zeblix-block.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT development)

install(TARGETS ${tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

# The library and the files a program needs to build against it.
set(config_dir ${CMAKE_INSTALL_DATADIR}/cmake/zeblix)
# Two sets: what serves any target (the header, the generator), and the library, which serves
# targets of this machine's kind only.
install(TARGETS zeblix_version_block zeblix-block EXPORT zeblixBlockTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT development)
install(TARGETS zeblix_scan_shared zeblix_scan_static EXPORT zeblixLibraryTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zeblix DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development FILES_MATCHING PATTERN "*.h")
foreach(set Block Library)
  install(EXPORT zeblix${set}Targets NAMESPACE zeblix:: DESTINATION ${config_dir}
          COMPONENT development)
endforeach()
math(EXPR ZEBLIX_TARGET_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zeblixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zeblixConfig.cmake INSTALL_DESTINATION ${config_dir})
# Any target may find the package: the configuration offers each what serves it.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zeblixConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/zeblixConfig.cmake ${PROJECT_BINARY_DIR}/zeblixConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/zeblixBlock.cmake
        DESTINATION ${config_dir} COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/zeblix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)
# The inventory's engine for programs (the Python module's inventory()), a library of its own: it
# needs libarchive and the decompressors, which libzeblix does not.
if(TARGET zeblix_inventory_shared)
  install(TARGETS zeblix_inventory_shared
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT inventory_library
                  NAMELINK_COMPONENT development)
  install(FILES ${PROJECT_BINARY_DIR}/zeblix-inventory.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endif()

# Each package carries its copyright and changelog.
set(packages tools:zeblix library:libzeblix${PROJECT_VERSION_MAJOR} development:libzeblix-dev)
if(TARGET zeblix_inventory_shared)
  list(APPEND packages inventory_library:libzeblix-inventory${PROJECT_VERSION_MAJOR})
endif()
if(TARGET zeblix_python)
  list(APPEND packages python:python3-zeblix)
endif()
foreach(pair ${packages})
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_NAME zeblix)
set(CPACK_PACKAGE_VENDOR Quorvantis)
set(CPACK_PACKAGE_CONTACT "zeblix maintainers <zeblix@quorvantis.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package names its own synopsis, as the first line of its description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools library development)
if(TARGET zeblix_inventory_shared)
  list(APPEND CPACK_COMPONENTS_ALL inventory_library)
endif()
if(TARGET zeblix_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zeblix)
# libarchive, SQLite and libcrypto are loaded when first needed, so the binaries do not name them: their
# packages are named here, beside what dpkg-shlibdeps finds.
set(zeblix_loaded_libraries "libarchive13 (>= 3.6), libsqlite3-0 (>= 3.31), libssl3 (>= 3.0)")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${zeblix_loaded_libraries}")
set(CPACK_DEBIAN_INVENTORY_LIBRARY_PACKAGE_DEPENDS "${zeblix_loaded_libraries}")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "reports the version blocks compiled into product files
zeblix reads executables, shared libraries and drivers and prints the version
information compiled into them: every version block, or an old-format version
record, with its codes translated into words and its byte order honoured.
zeblix-inventory lists the records of whole trees as JSON Lines or CSV, on all
cores, for scripts and fleets.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libzeblix${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "reads the version records compiled into product files
The zeblix scanning engine as a shared library: programs get every version
record of a product file, with the same rules as the zeblix utility, through a
C or a C++ interface.")

set(CPACK_DEBIAN_INVENTORY_LIBRARY_PACKAGE_NAME libzeblix-inventory${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_INVENTORY_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_INVENTORY_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_INVENTORY_LIBRARY_DESCRIPTION "lists the version records of trees, packages and images
zeblix-inventory's engine as a shared library for programs: the version records
of whole trees, and of the packages, archives and images in them, with their
identities and digests, as the command gives them, line by line, through a C
interface.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzeblix-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libzeblix${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), libzeblix-inventory${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "reads the version records compiled into product files - development
Headers, static library, CMake package and pkg-config file for programs that
read version records with libzeblix; and, for products, the header that lays
out a version block at compile time (C, C++), zeblix-block, which writes one
for any toolchain, and the CMake function zeblix_add_version_block.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zeblix)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The module links libzeblix, built beside it: dpkg-shlibdeps finds it here and the package
# depends on the library package of the same version.
get_target_property(library_dir zeblix_scan_shared BINARY_DIR)
get_target_property(inventory_dir zeblix_inventory_shared BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${library_dir} ${inventory_dir})
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "libzeblix${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), python3 (>= 3.11)")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "reads the version records compiled into product files - Python
The module zeblix: scan_file, scan_bytes and scan_stream give the version
records of a product file, as the zeblix utility reports them, as read-only
Python objects, over the shared library libzeblix.")
include(CPack)
