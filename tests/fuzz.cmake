# libFuzzer targets (clang only), built when ORVALIS_FUZZ is on:
#   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
#         -DORVALIS_FUZZ=ON -DORVALIS_SANITIZE=address,undefined
# Each target gets a ctest entry that fuzzes for ORVALIS_FUZZ_SECONDS from the
# seed corpus in tests/fuzz/corpus/<target>; new inputs go to the build
# folder, never into the source tree.
if(NOT ORVALIS_FUZZ)
  return()
endif()

set(ORVALIS_FUZZ_SECONDS 60 CACHE STRING "How long each fuzz test runs")
set(fuzz_dir ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)

add_executable(orvalis-fuzz-model-seeds ${fuzz_dir}/make_model_seeds.cpp)
target_link_libraries(orvalis-fuzz-model-seeds PRIVATE orvalis)

# Longest input per target: protocol input past the 255-character line limit;
# model files as large as the seeds with room to grow.
set(interpreter_max_len 8192)
set(model_loader_max_len 65536)
# Every player's destructor writes "father delete..." to standard output;
# close it (-close_fd_mask=1) so the fuzzer's report stays readable.
set(interpreter_flags -close_fd_mask=1)
set(model_loader_flags)

foreach(target interpreter model_loader)
  set(binary orvalis-fuzz-${target})
  string(REPLACE "_" "-" binary ${binary})
  add_executable(${binary} ${fuzz_dir}/${target}_fuzz.cpp)
  target_include_directories(${binary} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${binary} PRIVATE orvalis)
  target_link_options(${binary} PRIVATE -fsanitize=fuzzer)
  set(found ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus/${target})
  file(MAKE_DIRECTORY ${found})
  # A damaged model may ask for a lot of memory before the checks refuse it;
  # the limits keep one input from taking the machine.
  add_test(NAME fuzz_${target}
           COMMAND ${binary} ${found} ${fuzz_dir}/corpus/${target}
                   -max_total_time=${ORVALIS_FUZZ_SECONDS} -timeout=10
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/fuzz-${target}- -rss_limit_mb=2048
                   -max_len=${${target}_max_len} -print_final_stats=1 ${${target}_flags})
  set_tests_properties(fuzz_${target} PROPERTIES TIMEOUT 600 LABELS fuzz)
endforeach()
