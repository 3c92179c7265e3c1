# The deliverability check before a run, against a name server on loopback (python3-dnslib)
# and SpamAssassin where it is installed.
postwick_test(test_deliverability
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_deliverability.cpp
  LIBS pw_send
  LABELS send)
