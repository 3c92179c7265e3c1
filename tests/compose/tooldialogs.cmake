# The small tool dialogs on real widgets, and the texts of every window in both languages.
postwick_test(test_tool_dialogs SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tool_dialogs.cpp
  LIBS pw_compose_gui LABELS gui)
