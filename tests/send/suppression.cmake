# The suppression list and unsubscribing, from the editor command and an imported list to a
# whole run against a real server on loopback.
postwick_test(test_suppression_run SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_suppression_run.cpp
  LIBS pw_send_testworld pw_send pw_dbtools pw_exchange LABELS send TIMEOUT 600)
