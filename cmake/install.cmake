# `cmake --install` and the Debian packages: "cubesec" (the program, the simulated server's
# tool, the manual pages and the demo server as an example) and "cubesec-qt" (the window
# module), which the first recommends: without it the terminal form serves.
include(GNUInstallDirs)

install(TARGETS cubesec cubesec-sim RUNTIME DESTINATION ${CUBESEC_BIN_DIR} COMPONENT cli)
if(CUBESEC_HAVE_QT)
  install(TARGETS cubesec-qt LIBRARY DESTINATION ${CUBESEC_MODULE_DIR} COMPONENT qt)
endif()

# Manual pages go in compressed, without a time stamp, so that two builds give equal packages.
find_program(GZIP_PROGRAM gzip)
set(MAN_PAGES cubesec.1 cubesec-sim.1)
set(MAN_OUTPUTS)
foreach(page IN LISTS MAN_PAGES)
  set(source ${CMAKE_SOURCE_DIR}/docs/${page})
  if(GZIP_PROGRAM)
    set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${GZIP_PROGRAM}' -9n -c '${source}' > '${output}'"
      DEPENDS ${source} VERBATIM)
    list(APPEND MAN_OUTPUTS ${output})
  else()
    list(APPEND MAN_OUTPUTS ${source})
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${MAN_OUTPUTS})
install(FILES ${MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)

install(FILES ${CMAKE_SOURCE_DIR}/examples/demo-server.json
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT cli)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT cli)

set(CPACK_PACKAGE_NAME cubesec)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "cubesec developers <cubesec@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Dump, restore and reset the security set-up of a multidimensional database server")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(CUBESEC_HAVE_QT)
  list(APPEND CPACK_COMPONENTS_ALL qt)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# The libraries a package needs come from the binaries themselves (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME cubesec)
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "Dump, restore and reset the security set-up of a multidimensional database server
 cubesec writes a server's whole security set-up (settings, groups, users, applications,
 databases, filters and access) into one readable text file, rebuilds it on the same or
 another server, and resets a server's security after a confirmation. It runs in batch
 from its command line, or asks for what is missing in a window (package cubesec-qt) or
 on the terminal. cubesec-sim builds simulated servers to try it on.")
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS cubesec-qt)

set(CPACK_DEBIAN_QT_PACKAGE_NAME cubesec-qt)
set(CPACK_DEBIAN_QT_PACKAGE_SECTION admin)
# The module and the program exchange C++ objects: only the same version fits.
set(CPACK_DEBIAN_QT_PACKAGE_DEPENDS "cubesec (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_QT_DESCRIPTION
    "Window for cubesec (Qt 6)
 The main window of cubesec, loaded only when cubesec is started without all of its
 parameters on a machine with a display. Batch runs never load it.")

include(CPack)
