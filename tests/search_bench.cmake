# The bench's node count is a signature of search behaviour: a change that
# alters it must say so (and update the number here) in its commit.
set(ORVALIS_BENCH_SIGNATURE 59806)
add_test(NAME bench_signature COMMAND orvalis-bench --growth 0)
set_tests_properties(bench_signature PROPERTIES
  PASS_REGULAR_EXPRESSION "signature \\(total nodes\\): ${ORVALIS_BENCH_SIGNATURE}( |\n|$)")
