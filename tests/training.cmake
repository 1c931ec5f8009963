# The training pipeline's Python tests: record format, symmetries, trainer (Debian's python3-torch),
# and the gate openings' judge and split.
find_program(ORVALIS_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(ORVALIS_SYSTEM_PYTHON)
  add_test(NAME training_pipeline
           COMMAND ${ORVALIS_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/data/training/test_training.py)
  add_test(NAME training_gate_openings
           COMMAND ${ORVALIS_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/data/training/test_gate_openings.py)
endif()
