# The template markup: blocks, values, positions after a change, the text markup.
postwick_test(test_template_markup SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_template_markup.cpp
  LIBS pw_compose)
