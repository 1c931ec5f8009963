# The bench's node counts are signatures of search behaviour, one per mode: a
# change that alters one must say so (and update the number here) in its commit.
set(ORVALIS_BENCH_SIGNATURE 59806)
set(ORVALIS_THREAT_BENCH_SIGNATURE 40015)
add_test(NAME bench_signature COMMAND orvalis-bench --growth 0)
set_tests_properties(bench_signature PROPERTIES
  PASS_REGULAR_EXPRESSION "plain signature \\(total nodes\\): ${ORVALIS_BENCH_SIGNATURE}\n.*threat signature \\(total nodes\\): ${ORVALIS_THREAT_BENCH_SIGNATURE}\n")
