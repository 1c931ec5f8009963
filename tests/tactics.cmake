# The tactics suite's checks (tests/tactics_test.cpp) use its file reader and answer rules.
target_link_libraries(orvalis-tests PRIVATE orvalis-tactics-core)
