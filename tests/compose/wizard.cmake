# The template wizard without its window over every shipped template, read back by Python.
postwick_test(test_template_wizard
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_template_wizard.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.h
  LIBS pw_compose pw_send Qt6::Gui
  LABELS compose)
target_include_directories(test_template_wizard PRIVATE ${PROJECT_SOURCE_DIR}/tests/smtp)
target_compile_definitions(test_template_wizard PRIVATE
  MIME_TREE_SCRIPT="${PROJECT_SOURCE_DIR}/tests/smtp/data/mime_tree.py"
  POSTWICK_TEMPLATES="${PROJECT_SOURCE_DIR}/data/HTML TEMPLATE/")
