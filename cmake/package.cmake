# The installed library: headers under include/vevura with their paths from the
# top of the tree (the code includes "engine/core/data_cursor.h"), the static
# libraries, the CMake package `vevura` (targets vevura::<library without its
# vevura_ prefix>) and the pkg-config file vevura.pc.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VEVURA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vevura)
set(VEVURA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vevura)

# Makes target part of the package: its users include from the top of the tree
# here and from include/vevura once installed, and every header under dir (a
# folder from the top; EXCLUDE is a regex of paths to leave out) is installed.
# The headers are globbed, so a new header needs no list to be kept.
# Call in dependency order: the pkg-config file links the libraries in reverse.
function(vevura_package_library target dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "EXCLUDE" "")
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
                                                $<INSTALL_INTERFACE:${VEVURA_INSTALL_INCLUDEDIR}>)
    set_property(GLOBAL APPEND PROPERTY VEVURA_PACKAGE_ARCHIVES ${target})
  endif()
  string(REGEX REPLACE "^vevura_" "" export_name ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name})
  install(TARGETS ${target} EXPORT vevura_targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

  if(dir)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}
         ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    if(arg_EXCLUDE)
      list(FILTER headers EXCLUDE REGEX "${arg_EXCLUDE}")
    endif()
    foreach(header IN LISTS headers)
      get_filename_component(folder ${header} DIRECTORY)
      install(FILES ${CMAKE_SOURCE_DIR}/${header} DESTINATION ${VEVURA_INSTALL_INCLUDEDIR}/${folder})
    endforeach()
  endif()
endfunction()

# The package files, once every library is declared.
function(vevura_install_package)
  install(EXPORT vevura_targets NAMESPACE vevura:: FILE vevuraTargets.cmake
          DESTINATION ${VEVURA_INSTALL_CMAKEDIR})
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/vevuraConfig.cmake.in
                                ${CMAKE_BINARY_DIR}/package/vevuraConfig.cmake
                                INSTALL_DESTINATION ${VEVURA_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/vevuraConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/package/vevuraConfig.cmake
                ${CMAKE_BINARY_DIR}/package/vevuraConfigVersion.cmake
          DESTINATION ${VEVURA_INSTALL_CMAKEDIR})

  # pkg-config: the libraries, users before the used, then what they link.
  get_property(archives GLOBAL PROPERTY VEVURA_PACKAGE_ARCHIVES)
  list(REVERSE archives)
  list(TRANSFORM archives PREPEND "-l")
  list(JOIN archives " " VEVURA_PC_LIBS)
  set(VEVURA_PC_DEPENDENCY_LIBS "-lz -licui18n -licuuc -licudata -pthread")
  # The prefix is found from the file's own place, so the tree can move.
  file(RELATIVE_PATH VEVURA_PC_PREFIX_FROM_PCFILEDIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" VEVURA_PC_PREFIX_FROM_PCFILEDIR ${VEVURA_PC_PREFIX_FROM_PCFILEDIR})
  set(VEVURA_PC_INCLUDEDIR ${VEVURA_INSTALL_INCLUDEDIR})
  set(VEVURA_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/vevura.pc.in ${CMAKE_BINARY_DIR}/package/vevura.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/vevura.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
