# The SMTP client: authentication vectors, reply framing, the session against scripted
# servers, and real servers on loopback (aiosmtpd started by the tests).
postwick_test(test_smtp_auth SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_smtp_auth.cpp
  LIBS pw_smtp LABELS smtp)
postwick_test(test_smtp_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_smtp_reply.cpp
  LIBS pw_smtp LABELS smtp)
postwick_test(test_smtp_session SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_smtp_session.cpp
  LIBS pw_smtp LABELS smtp TIMEOUT 300)
postwick_test(test_smtp_live SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_smtp_live.cpp
  LIBS pw_smtp LABELS smtp TIMEOUT 300)
