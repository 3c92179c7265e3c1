postwick_test(test_smtp_file_parts SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_file_parts.cpp
  LIBS pw_smtp LABELS smtp)
