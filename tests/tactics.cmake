# The tactics suite's checks (tests/tactics_test.cpp) use its file reader and answer rules.
target_link_libraries(orvalis-tests PRIVATE orvalis-tactics-core)
# The runner reads the same file with its own parser: check that it agrees the file is sound.
add_test(NAME tactics_runner_self_check
  COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/tools/tactics/run_tactics.py --self-check
          --positions ${CMAKE_CURRENT_SOURCE_DIR}/data/tactics/positions.txt)
