postwick_test(test_smtp_port_range SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_port_range.cpp
  LIBS pw_smtp LABELS smtp)
