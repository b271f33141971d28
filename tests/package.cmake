# The Debian package (cmake/packaging.cmake): built from this tree with CPack, unpacked and
# used; lintian must report no error. tests/test_package.sh exits 77 when a tool is missing.
if(TARGET veilmora AND TARGET veilmora_module AND NOT WIN32)
  # With a frei0r filter in the tree the package must carry it.
  set(frei0r_expected no-frei0r)
  if(TARGET veilmora_frei0r)
    set(frei0r_expected frei0r)
  endif()
  add_test(NAME Package.BuildUnpackRenderLintian
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/test_package.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR} ${PROJECT_VERSION} ${frei0r_expected})
  set_tests_properties(Package.BuildUnpackRenderLintian PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 600
    # Runs cpack over this build: nothing else may be rebuilding it meanwhile.
    RUN_SERIAL TRUE)
endif()
