# Every shipped template in the HTML view at a desktop and a phone width, and its markup.
postwick_test(test_template_layout SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_template_layout.cpp
  LIBS pw_compose_gui LABELS gui)
target_compile_definitions(test_template_layout PRIVATE
  POSTWICK_TEMPLATES="${PROJECT_SOURCE_DIR}/data/HTML TEMPLATE/")
