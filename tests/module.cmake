# The effect module, driven through the stand-in host as a host drives it.
if(TARGET veilmora_module AND TARGET veilmora_hostsim)
  set(module_tests
    test_module_loading test_pipl test_dispatch test_params test_suite_cache test_pre_render
    test_render_driver test_regions test_classic_render test_ui_rules test_fault_sweep)
  foreach(name IN LISTS module_tests)
    set(libs veilmora_hostsim)
    set(sources ${name}.cpp)
    if(name STREQUAL "test_render_driver")
      # The tile stage run directly, as the reference for what the module renders.
      list(APPEND libs veilmora_render veilmora_fft)
    elseif(name STREQUAL "test_suite_cache")
      # The cache itself, driven against the stand-in host's basic suite.
      list(APPEND sources ${PROJECT_SOURCE_DIR}/host/suite_cache.cpp)
    endif()
    veilmora_test(${name} SOURCES ${sources} LIBS ${libs})
    target_compile_definitions(${name} PRIVATE
      VEILMORA_MODULE_PATH="$<TARGET_FILE:veilmora_module>"
      VEILMORA_PIPL_RC="$<TARGET_PROPERTY:veilmora_pipl,VEILMORA_RC_FILE>")
    # Frames and failures are described with designated initializers that name only the
    # fields a test cares about.
    target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
    add_dependencies(${name} veilmora_module)
  endforeach()
endif()
