postwick_test(test_send_dry_run_files SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_dry_run_files.cpp
  LIBS pw_send LABELS send)
