# The text tools: counts, the wrap setting, katakana, lines and frames.
postwick_test(test_text_tools SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_text_tools.cpp
  LIBS pw_compose)
