# The embedded HTML view on a real WebEngine page.
postwick_test(test_htmlview SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_htmlview.cpp LIBS pw_compose_gui
  LABELS gui)
