# The loss audit's checks (tests/loss_audit_test.cpp) use its core.
target_link_libraries(orvalis-tests PRIVATE orvalis-loss-audit-core)
add_test(NAME loss_audit_record
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/data/loss_audit/test_audit_record.py
          $<TARGET_FILE:orvalis-loss-audit>)
