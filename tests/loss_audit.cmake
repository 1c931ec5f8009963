# The loss audit's checks (tests/loss_audit_test.cpp) use its core.
target_link_libraries(orvalis-tests PRIVATE orvalis-loss-audit-core)
