# The `docs` target: the architecture diagram (Graphviz, to SVG) and the Doxygen reference of the public
# headers, both into build/docs.
find_package(Doxygen QUIET)
find_program(FCSDK_DOT dot)
set(FCSDK_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
if(DOXYGEN_FOUND AND FCSDK_DOT)
    configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${FCSDK_DOCS_DIR}/Doxyfile @ONLY)
    add_custom_command(OUTPUT ${FCSDK_DOCS_DIR}/architecture.svg
        COMMAND ${FCSDK_DOT} -Tsvg ${PROJECT_SOURCE_DIR}/docs/architecture.dot -o ${FCSDK_DOCS_DIR}/architecture.svg
        DEPENDS ${PROJECT_SOURCE_DIR}/docs/architecture.dot
        COMMENT "Rendering the architecture diagram")
    add_custom_target(docs
        COMMAND ${DOXYGEN_EXECUTABLE} ${FCSDK_DOCS_DIR}/Doxyfile
        DEPENDS ${FCSDK_DOCS_DIR}/architecture.svg
        WORKING_DIRECTORY ${FCSDK_DOCS_DIR}
        COMMENT "Generating the API reference")
else()
    message(STATUS "docs target disabled: needs doxygen and graphviz")
endif()
