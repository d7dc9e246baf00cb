# Installation: libtagkit.so with a soname, the public headers under
# include/tagkit/, the tagkit program, a CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(tagkit PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(tagkit INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# What an application may include: the class and its value classes, result
# codes and property identifiers, and the engine's and container's C
# interfaces with the few system declarations they use.
set(TAGKIT_PUBLIC_HEADERS
  tagkit/tagkit.h
  tagkit/tagkit_picture.h
  tagkit/tagkit_music_id.h
  tagkit/tagkit_geob.h
  tagkit/xdate.h
  engine/tlx_id3.h
  container/tlx_sqa.h
  system/tlx_com.h
  system/tlx_export.h
  system/tlx_system.h)
foreach(header ${TAGKIT_PUBLIC_HEADERS})
  if(EXISTS ${PROJECT_SOURCE_DIR}/${header})
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagkit)
  endif()
endforeach()

install(TARGETS tagkit EXPORT tagkitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tagkit_cli)
  install(TARGETS tagkit_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(TAGKIT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tagkit)
install(EXPORT tagkitTargets NAMESPACE tagkit:: DESTINATION ${TAGKIT_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tagkitConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tagkitConfig.cmake INSTALL_DESTINATION ${TAGKIT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tagkitConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tagkitConfig.cmake ${PROJECT_BINARY_DIR}/tagkitConfigVersion.cmake
  DESTINATION ${TAGKIT_CMAKE_DIR})

file(RELATIVE_PATH TAGKIT_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/tagkit.pc.in ${PROJECT_BINARY_DIR}/tagkit.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tagkit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
