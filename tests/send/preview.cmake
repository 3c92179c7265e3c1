# The preview's messages against the dry-run messages of the same recipients, read by Python.
postwick_test(test_preview
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_preview.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.h
  LIBS pw_send
  LABELS send)
target_include_directories(test_preview PRIVATE ${PROJECT_SOURCE_DIR}/tests/smtp)
target_compile_definitions(test_preview PRIVATE
  MIME_TREE_SCRIPT="${PROJECT_SOURCE_DIR}/tests/smtp/data/mime_tree.py")
postwick_test(test_preview_window SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_preview_window.cpp
  LIBS pw_send pw_compose_gui LABELS gui)
