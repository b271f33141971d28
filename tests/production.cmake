# The command in production, through the built binary: linear light, sequences split into
# chunks and rendered on a Slurm cluster started for the test, and failures in the middle of a
# sequence (file-size limit, full disk, SIGKILL).
if(TARGET veilmora AND TARGET veilmora_module)
  find_package(OpenImageIO CONFIG REQUIRED)
  veilmora_test(test_cli_production
    SOURCES test_cli_linear.cpp test_cli_farm.cpp test_cli_failures.cpp
    LIBS OpenImageIO::OpenImageIO)
  target_compile_definitions(test_cli_production PRIVATE
    VEILMORA_CLI_PATH="$<TARGET_FILE:veilmora>"
    VEILMORA_MODULE_PATH="$<TARGET_FILE:veilmora_module>"
    VEILMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(test_cli_production veilmora veilmora_module)
endif()
