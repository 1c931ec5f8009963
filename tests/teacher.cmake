# The teacher's core (patterns, threat search, protocol, self-play records) is tested in-process.
target_link_libraries(orvalis-tests PRIVATE orvalis-teacher-core)
