# Installation layout and the Debian package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS zeblix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/zeblix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The header for product builders, found with find_package(zeblix).
set(config_dir ${CMAKE_INSTALL_DATADIR}/cmake/zeblix)
install(TARGETS zeblix_version_block EXPORT zeblixTargets)
install(FILES ${PROJECT_SOURCE_DIR}/data/zeblix/version_block.h
              ${PROJECT_SOURCE_DIR}/data/zeblix/byte_order.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeblix)
install(EXPORT zeblixTargets NAMESPACE zeblix:: DESTINATION ${config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zeblixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zeblixConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zeblixConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/zeblixConfig.cmake ${PROJECT_BINARY_DIR}/zeblixConfigVersion.cmake
        DESTINATION ${config_dir})

set(CPACK_PACKAGE_NAME zeblix)
set(CPACK_PACKAGE_VENDOR Quorvantis)
set(CPACK_PACKAGE_CONTACT "zeblix maintainers <zeblix@quorvantis.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reports the version blocks compiled into product files")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
find_program(ZEBLIX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZEBLIX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
include(CPack)
