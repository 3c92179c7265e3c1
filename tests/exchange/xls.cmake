postwick_test(test_exchange_xls SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_xls_reader.cpp LIBS pw_exchange)
