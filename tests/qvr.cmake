# The qvr library against PyTorch on exported networks, every kernel path.
# Needs Debian's python3-torch and python3-numpy; without them it fails.
add_test(NAME qvr_matches_pytorch
  COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/training/check_qvm.py
          $<TARGET_FILE:qvr-infer> ${CMAKE_CURRENT_BINARY_DIR}/qvr_check)
