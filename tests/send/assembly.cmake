# Per-recipient message assembly: merge, body preparation, structure, read back by Python.
postwick_test(test_assembly
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_assembly.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.cpp
          ${PROJECT_SOURCE_DIR}/tests/smtp/test_mime_python.h
  LIBS pw_send
  LABELS send)
target_include_directories(test_assembly PRIVATE ${PROJECT_SOURCE_DIR}/tests/smtp)
target_compile_definitions(test_assembly PRIVATE
  MIME_TREE_SCRIPT="${PROJECT_SOURCE_DIR}/tests/smtp/data/mime_tree.py")
