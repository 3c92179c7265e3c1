# The bounce reader: real reports from many servers, tracked mail, the command line.
postwick_test(test_bounce_reader
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_bounce_reader.cpp
  LIBS pw_bounces
  LABELS bounces)
postwick_test(test_bounce_mailbox
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_bounce_mailbox.cpp
  LIBS pw_bounces
  LABELS bounces)
