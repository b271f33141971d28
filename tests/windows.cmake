# The Windows module, cross-built by scripts/build-windows into build-win/, checked from the
# Linux build: its file (exports, imports, resources) and, under wine, its renders against
# the Linux module's. Nothing here is skipped when the Windows build or wine is missing:
# the tests fail and say what to run.
if(TARGET veilmora_module AND TARGET veilmora_hostsim)
  set(VEILMORA_WINDOWS_BUILD_DIR ${PROJECT_SOURCE_DIR}/build-win
      CACHE PATH "The build folder of scripts/build-windows")
  set(windows_module "${VEILMORA_WINDOWS_BUILD_DIR}/bin/Veilmora(64bit).aex")
  set(windows_program "${VEILMORA_WINDOWS_BUILD_DIR}/bin/veilmora-wintest.exe")
  find_program(VEILMORA_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine)
  set(wine_renders ${CMAKE_CURRENT_BINARY_DIR}/windows-renders)

  veilmora_test(test_windows_module SOURCES test_windows_module.cpp test_windows_pe.cpp
                LIBS veilmora_hostsim)
  target_compile_definitions(test_windows_module PRIVATE
    VEILMORA_WINDOWS_MODULE="${windows_module}"
    VEILMORA_LINUX_MODULE="$<TARGET_FILE:veilmora_module>")
  add_dependencies(test_windows_module veilmora_module)

  # The wine run is a ctest fixture: done once, before the comparisons that read its files.
  add_test(NAME windows_wine_run
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/test_windows_wine_run.sh ${VEILMORA_WINE64}
                   ${windows_program} ${windows_module} ${CMAKE_BINARY_DIR}/wineprefix
                   ${wine_renders})
  set_tests_properties(windows_wine_run PROPERTIES FIXTURES_SETUP windows_renders TIMEOUT 900
                                                   RESOURCE_LOCK wineprefix)

  # The Linux twin of the Windows program: the same session and scene sources, run in the test
  # against the Linux module. Registered by hand (not veilmora_test) to require the fixture.
  add_executable(test_windows_render test_windows_render.cpp
    ${PROJECT_SOURCE_DIR}/wintest/session.cpp ${PROJECT_SOURCE_DIR}/wintest/raw_image.cpp
    ${PROJECT_SOURCE_DIR}/cli/demo_scene.cpp ${PROJECT_SOURCE_DIR}/cli/host_image.cpp)
  target_link_libraries(test_windows_render PRIVATE veilmora_hostsim GTest::gtest
                                                    GTest::gtest_main veilmora_warnings)
  target_compile_definitions(test_windows_render PRIVATE
    VEILMORA_WINE_RENDERS="${wine_renders}" VEILMORA_LINUX_MODULE="$<TARGET_FILE:veilmora_module>")
  add_dependencies(test_windows_render veilmora_module)
  gtest_discover_tests(test_windows_render DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 600 FIXTURES_REQUIRED windows_renders)
endif()
