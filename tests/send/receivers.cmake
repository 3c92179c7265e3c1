# Every message structure against strict peers: Python's email package, a real Postfix with its
# strict MIME checks (started by the test, as root) and SpamAssassin's stock rules.
postwick_test(test_mail_receivers
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_mail_receivers.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.h
  LIBS pw_send
  LABELS send TIMEOUT 600)
target_include_directories(test_mail_receivers PRIVATE ${PROJECT_SOURCE_DIR}/tests/smtp)
target_compile_definitions(test_mail_receivers PRIVATE
  MIME_TREE_SCRIPT="${PROJECT_SOURCE_DIR}/tests/smtp/data/mime_tree.py")
