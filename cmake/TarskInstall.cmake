# Install rules and the CMake package TarskSDK. `cmake --install` puts the TexPtex plug-in in
# lib/tarsk/plugins/, the host library and its headers (include/tarsk/), our Ptex library with its
# headers in include/tarsk-ptex/ (a folder of their own, so they never shadow an installed Ptex),
# the host programs and tools in bin/, and lib/cmake/TarskSDK/ for find_package(TarskSDK), which
# gives tarsk::tarsk (host library), tarsk::framework (plug-in base classes) and tarsk::ptex.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TARSK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/TarskSDK)
set(TARSK_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/tarsk/plugins)
set(TARSK_INSTALL_PTEX_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/tarsk-ptex)

# The host library's include folders are plain source paths; exported targets need them split
# into their build-tree and installed forms.
get_target_property(tarsk_include_dirs tarsk INTERFACE_INCLUDE_DIRECTORIES)
set(tarsk_include_interface "")
foreach(dir ${tarsk_include_dirs})
  if(dir MATCHES "^\\$<")
    list(APPEND tarsk_include_interface "${dir}")
  else()
    list(APPEND tarsk_include_interface "$<BUILD_INTERFACE:${dir}>")
  endif()
endforeach()
list(APPEND tarsk_include_interface "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
set_target_properties(tarsk PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${tarsk_include_interface}")

# Installed programs find the host library one folder up; the plug-in finds it two folders up
# (the host has normally loaded it already).
set_target_properties(tarsk PROPERTIES EXPORT_NAME tarsk)
set(tarsk_installed_programs ptex-info ptex-eval ptex-bake tarsk-plugins tarsk-eval tarsk-render)
foreach(program ${tarsk_installed_programs})
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
if(TARGET tarsk_TexPtex)
  set_target_properties(tarsk_TexPtex PROPERTIES INSTALL_RPATH "$ORIGIN/../..")
  install(TARGETS tarsk_TexPtex LIBRARY DESTINATION ${TARSK_INSTALL_PLUGINDIR})
endif()

set(tarsk_exported tarsk)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sdk/include/tarsk ${PROJECT_SOURCE_DIR}/framework/include/tarsk
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

if(TARGET tarsk_framework)
  target_include_directories(tarsk_framework INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(tarsk_framework PROPERTIES EXPORT_NAME framework)
  list(APPEND tarsk_exported tarsk_framework)
endif()

if(TARGET tarsk_ptex)
  target_include_directories(tarsk_ptex INTERFACE $<INSTALL_INTERFACE:${TARSK_INSTALL_PTEX_INCLUDEDIR}>)
  set_target_properties(tarsk_ptex PROPERTIES EXPORT_NAME ptex)
  list(APPEND tarsk_exported tarsk_ptex)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/ptex/include/ DESTINATION ${TARSK_INSTALL_PTEX_INCLUDEDIR}
          FILES_MATCHING PATTERN "*.h")
endif()

# Static libraries carry their private link items into the export as link-only entries; the
# warning flags target is one of them and has nothing to pass on, so it is exported as is.
set_target_properties(tarsk_warnings PROPERTIES EXPORT_NAME internal_warnings)
set_target_properties(tarsk_warnings PROPERTIES INTERFACE_COMPILE_OPTIONS
  "$<BUILD_INTERFACE:-Wall;-Wextra;-Werror>")
list(APPEND tarsk_exported tarsk_warnings)

install(TARGETS ${tarsk_exported} EXPORT TarskSDKTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT TarskSDKTargets NAMESPACE tarsk:: DESTINATION ${TARSK_INSTALL_CMAKEDIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TarskSDKConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/TarskSDKConfig.cmake
  INSTALL_DESTINATION ${TARSK_INSTALL_CMAKEDIR}
  PATH_VARS TARSK_INSTALL_PLUGINDIR TARSK_INSTALL_PTEX_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TarskSDKConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TarskSDKConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/TarskSDKConfigVersion.cmake
        DESTINATION ${TARSK_INSTALL_CMAKEDIR})
