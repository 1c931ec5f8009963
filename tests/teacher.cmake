# The teacher's core (protocol, player, self-play records) is tested in-process; its transcripts
# (tests/data/teacher_transcripts) run the real executable.
target_link_libraries(orvalis-tests PRIVATE orvalis-teacher-core)
target_compile_definitions(orvalis-tests PRIVATE ORVALIS_TEACHER_PATH="$<TARGET_FILE:orvalis-teacher>")
add_dependencies(orvalis-tests orvalis-teacher)
