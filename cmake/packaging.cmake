# The Debian package, built with CPack (cpack -G DEB in the build folder, or scripts/package):
#   /usr/bin/veilmora                       the command
#   /usr/lib/veilmora/Veilmora.so           the module, where the installed command looks first
#   /usr/lib/frei0r-1/                      the frei0r filter, when the tree builds one
#   /usr/share/man/man1/veilmora.1.gz       the manual page
#   /usr/share/doc/veilmora/copyright       the licence (MIT)
#   /usr/share/doc/veilmora/changelog.gz
# Its version is the project's, as in the property list and `veilmora --version`; its
# dependencies are worked out from the binaries by dpkg-shlibdeps.
if(WIN32 OR NOT VEILMORA_BUILD_CLI)
  return()
endif()

set(package_doc share/doc/veilmora)
set(package_generated ${CMAKE_BINARY_DIR}/package)

# Debian wants manual pages and changelogs compressed, and reproducibly (no name, no time).
find_program(GZIP_PROGRAM gzip REQUIRED)
function(veilmora_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

configure_file(${PROJECT_SOURCE_DIR}/docs/veilmora.1.in ${package_generated}/veilmora.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/changelog.in ${package_generated}/changelog @ONLY)
veilmora_gzip(${package_generated}/veilmora.1 ${package_generated}/veilmora.1.gz)
veilmora_gzip(${package_generated}/changelog ${package_generated}/changelog.gz)
add_custom_target(veilmora_package_docs ALL
  DEPENDS ${package_generated}/veilmora.1.gz ${package_generated}/changelog.gz)

install(FILES ${package_generated}/veilmora.1.gz DESTINATION share/man/man1)
install(FILES ${package_generated}/changelog.gz DESTINATION ${package_doc})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${package_doc} RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veilmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_VENDOR "Veilmora developers")
set(CPACK_PACKAGE_CONTACT "Veilmora developers <veilmora@dunsmoor.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "defocus lens blur for images and image sequences")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Veilmora spreads every pixel over an iris-shaped patch: a circle, a
regular polygon or the image of another layer, imitating a defocused
camera lens; bright colours can be boosted first so that highlights
bloom into bokeh shapes. This package holds the veilmora command, which
renders image files and sequences through the Veilmora effect module,
and the module itself.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The module is loaded with dlopen from a private folder: dpkg-shlibdeps checks it too.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
