# The frei0r filter: loaded directly through its C functions (compared with the module run by
# the stand-in host), and run by ffmpeg and melt (compared with the veilmora command).
if(TARGET veilmora_frei0r AND TARGET veilmora_module AND TARGET veilmora_hostsim)
  veilmora_test(test_frei0r_plugin
    SOURCES test_frei0r_plugin.cpp frei0r_module_reference.cpp
    LIBS veilmora_hostsim ${CMAKE_DL_LIBS})
  target_include_directories(test_frei0r_plugin PRIVATE ${FREI0R_INCLUDE_DIR})
  target_compile_definitions(test_frei0r_plugin PRIVATE
    VEILMORA_FREI0R_PATH="$<TARGET_FILE:veilmora_frei0r>"
    VEILMORA_MODULE_PATH="$<TARGET_FILE:veilmora_module>")
  add_dependencies(test_frei0r_plugin veilmora_frei0r veilmora_module)

  # A program of its own: it replaces the global allocation functions to count them.
  veilmora_test(test_frei0r_memory SOURCES test_frei0r_memory.cpp LIBS ${CMAKE_DL_LIBS})
  target_include_directories(test_frei0r_memory PRIVATE ${FREI0R_INCLUDE_DIR})
  target_compile_definitions(test_frei0r_memory PRIVATE
    VEILMORA_FREI0R_PATH="$<TARGET_FILE:veilmora_frei0r>")
  add_dependencies(test_frei0r_memory veilmora_frei0r)
endif()

if(TARGET veilmora_frei0r AND TARGET veilmora AND TARGET veilmora_module)
  find_package(OpenImageIO CONFIG REQUIRED)
  veilmora_test(test_frei0r_tools SOURCES test_frei0r_tools.cpp LIBS OpenImageIO::OpenImageIO)
  target_include_directories(test_frei0r_tools PRIVATE ${FREI0R_INCLUDE_DIR})
  target_compile_definitions(test_frei0r_tools PRIVATE
    VEILMORA_CLI_PATH="$<TARGET_FILE:veilmora>"
    VEILMORA_FREI0R_PATH="$<TARGET_FILE:veilmora_frei0r>"
    VEILMORA_FREI0R_DIR="$<TARGET_FILE_DIR:veilmora_frei0r>")
  add_dependencies(test_frei0r_tools veilmora veilmora_module veilmora_frei0r)
  # A sanitized tree's filter needs the sanitizer's runtime loaded first in the tools.
  if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*address")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    target_compile_definitions(test_frei0r_tools PRIVATE VEILMORA_TOOL_PRELOAD="${asan_runtime}")
  endif()
endif()
