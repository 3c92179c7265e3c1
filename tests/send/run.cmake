# The send run: its rules, the log, and runs against real servers on loopback.
postwick_test(test_send_rules SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_send_rules.cpp
  LIBS pw_send LABELS send)
postwick_test(test_send_marker SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_send_marker.cpp
  LIBS pw_send LABELS send)
