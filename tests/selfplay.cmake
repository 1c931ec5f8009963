# Network self-play records, end to end: the C++ writer and the Python reader.
add_test(NAME selfplay_records
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/data/training/test_visit_records.py
          $<TARGET_FILE:orvalis-selfplay> ${PROJECT_SOURCE_DIR}/models/474/474_ncnn.qvm
          ${CMAKE_CURRENT_BINARY_DIR}/selfplay-records)
# The network student (tests/selfplay_student_test.cpp) runs in-process.
target_link_libraries(orvalis-tests PRIVATE orvalis-selfplay-core)
