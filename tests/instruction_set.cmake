# The instruction-set limit (VEILMORA_ISA): one program, run once unset and once per forced
# path, each run checking the dispatch of both the transform and the tile stage.
add_executable(test_instruction_set test_instruction_set.cpp)
target_link_libraries(test_instruction_set PRIVATE veilmora_render GTest::gtest GTest::gtest_main
                      veilmora_warnings)
add_test(NAME InstructionSet.unset COMMAND test_instruction_set)
set_tests_properties(InstructionSet.unset PROPERTIES ENVIRONMENT_MODIFICATION
                     "VEILMORA_ISA=unset:")
foreach(limit portable avx2)
  add_test(NAME InstructionSet.${limit} COMMAND test_instruction_set)
  set_tests_properties(InstructionSet.${limit} PROPERTIES ENVIRONMENT "VEILMORA_ISA=${limit}")
endforeach()
