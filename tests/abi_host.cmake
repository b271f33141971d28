# The independent test host (tests/abi_host/), written from the host's published byte
# offsets without our interface header, driving the Linux module directly and the Windows
# module under wine (its Windows build comes from scripts/build-windows).
if(TARGET veilmora_module)
  add_subdirectory(abi_host)
  add_test(NAME abi_host_linux_module
           COMMAND veilmora-abi-host $<TARGET_FILE:veilmora_module>)
  set_tests_properties(abi_host_linux_module PROPERTIES TIMEOUT 300)
  add_dependencies(veilmora-abi-host veilmora_module)

  set(VEILMORA_WINDOWS_BUILD_DIR ${PROJECT_SOURCE_DIR}/build-win
      CACHE PATH "The build folder of scripts/build-windows")
  find_program(VEILMORA_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine)
  add_test(NAME abi_host_windows_module_under_wine
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/test_windows_wine_run.sh ${VEILMORA_WINE64}
                   "${VEILMORA_WINDOWS_BUILD_DIR}/bin/veilmora-abi-host.exe"
                   "${VEILMORA_WINDOWS_BUILD_DIR}/bin/Veilmora(64bit).aex"
                   ${CMAKE_BINARY_DIR}/wineprefix)
  # One wine prefix for every wine test: they take turns, as each stops its server at the end.
  set_tests_properties(abi_host_windows_module_under_wine PROPERTIES
                       TIMEOUT 600 RESOURCE_LOCK wineprefix)
endif()
