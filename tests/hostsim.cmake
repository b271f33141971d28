# The stand-in host's own tests, with a small test module (three variants of one source)
# carrying its PiPL in an ELF section, for the loader and the protocol driver.
if(TARGET veilmora_hostsim)
  veilmora_test(test_hostsim SOURCES test_hostsim.cpp LIBS veilmora_hostsim)

  if(NOT WIN32)
    set(fixture_src ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/hostsim_fake_module.cpp)
    foreach(variant fake bad_kind bad_entry)
      set(target hostsim_${variant}_module)
      add_library(${target} MODULE ${fixture_src})
      target_link_libraries(${target} PRIVATE veilmora_warnings)
      set_target_properties(${target} PROPERTIES
        PREFIX "" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/fixtures)
    endforeach()
    target_compile_definitions(hostsim_bad_kind_module PRIVATE FAKE_KIND_OTHER)
    target_compile_definitions(hostsim_bad_entry_module PRIVATE FAKE_ENTRY_MISSING)

    veilmora_test(test_hostsim_module SOURCES test_hostsim_module.cpp LIBS veilmora_hostsim)
    target_compile_definitions(test_hostsim_module PRIVATE
      HOSTSIM_FAKE_MODULE="$<TARGET_FILE:hostsim_fake_module>"
      HOSTSIM_BAD_KIND_MODULE="$<TARGET_FILE:hostsim_bad_kind_module>"
      HOSTSIM_BAD_ENTRY_MODULE="$<TARGET_FILE:hostsim_bad_entry_module>")
    add_dependencies(test_hostsim_module
      hostsim_fake_module hostsim_bad_kind_module hostsim_bad_entry_module)
  endif()
endif()
