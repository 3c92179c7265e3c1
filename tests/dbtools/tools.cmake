postwick_test(test_editor_tools SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_editor_tools.cpp LIBS pw_editor_testfixture pw_dbtools_gui LABELS dbtools)
