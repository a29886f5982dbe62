# Install rules shared by the libraries and programs.

# A pkg-config file from NAME.pc.in beside the calling CMakeLists.txt. Its prefix is the
# one it is installed under (a Debian package's /usr, or `cmake --install --prefix`), so
# the file is written at install time; libdir, includedir and the version are known now.
function(tevrolink_install_pkg_config name component)
  set(prefix "@prefix@")  # kept for the install step
  set(template ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc.in)
  configure_file(${name}.pc.in ${template} @ONLY)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc)
  install(CODE "set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
                configure_file(\"${template}\" \"${output}\" @ONLY)"
          COMPONENT ${component})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${component})
endfunction()

# A manual page PAGE (e.g. tevrolink.1) beside the calling CMakeLists.txt, compressed as
# Debian keeps them (gzip -9, no name or time stamp in the header).
function(tevrolink_install_man_page page component)
  string(REGEX MATCH "[0-9]$" section ${page})
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" gzip ${source} ${output}
    DEPENDS ${source} VERBATIM)
  add_custom_target(man_${page} ALL DEPENDS ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
