# Reliability: non-finite pixels and long sequences through the stand-in host and the built
# module; the command's memory over a sequence and the hostile files it must refuse, through
# the built binary.
if(TARGET veilmora_module AND TARGET veilmora_hostsim)
  veilmora_test(test_reliability SOURCES test_reliability.cpp LIBS veilmora_hostsim)
  target_compile_definitions(test_reliability PRIVATE
    VEILMORA_MODULE_PATH="$<TARGET_FILE:veilmora_module>")
  add_dependencies(test_reliability veilmora_module)
endif()

if(TARGET veilmora AND TARGET veilmora_module)
  find_package(OpenImageIO CONFIG REQUIRED)
  veilmora_test(test_reliability_cli SOURCES test_reliability_cli.cpp
                LIBS OpenImageIO::OpenImageIO)
  target_compile_definitions(test_reliability_cli PRIVATE
    VEILMORA_CLI_PATH="$<TARGET_FILE:veilmora>"
    VEILMORA_MODULE_PATH="$<TARGET_FILE:veilmora_module>")
  add_dependencies(test_reliability_cli veilmora veilmora_module)
endif()
