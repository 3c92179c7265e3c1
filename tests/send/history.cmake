# The campaign history: runs recorded against a real server on loopback, the window's
# models, "--history" and the charts.
postwick_test(test_campaign_history SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_campaign_history.cpp
  LIBS pw_send_testworld pw_app LABELS send TIMEOUT 600)
