# `cmake --build <dir> --target doc` writes the API reference of the public
# headers to <dir>/doc/html; undocumented public operations are warnings, and
# warnings fail the target.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(TAGKIT_DOC_INPUTS)
  foreach(header ${TAGKIT_PUBLIC_HEADERS})
    if(EXISTS ${PROJECT_SOURCE_DIR}/${header})
      string(APPEND TAGKIT_DOC_INPUTS " \"${PROJECT_SOURCE_DIR}/${header}\"")
    endif()
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
  add_custom_target(doc
    COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/Doxyfile
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    COMMENT "API reference in ${PROJECT_BINARY_DIR}/doc/html"
    VERBATIM)
endif()
