postwick_test(test_app_process_protection SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_process_protection.cpp
  LIBS pw_app)
