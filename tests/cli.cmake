# The veilmora command's tests: they run the built binary as a subprocess, with the module
# built beside it.
if(TARGET veilmora AND TARGET veilmora_module)
  find_package(OpenImageIO CONFIG REQUIRED)  # imported targets are visible per folder
  veilmora_test(test_cli
    SOURCES test_cli_render.cpp test_cli_errors.cpp test_cli_module.cpp test_cli_regions.cpp
    LIBS OpenImageIO::OpenImageIO)
  target_compile_definitions(test_cli PRIVATE
    VEILMORA_CLI_PATH="$<TARGET_FILE:veilmora>"
    VEILMORA_MODULE_PATH="$<TARGET_FILE:veilmora_module>"
    VEILMORA_PROJECT_VERSION="${PROJECT_VERSION}")
  add_dependencies(test_cli veilmora veilmora_module)
endif()
