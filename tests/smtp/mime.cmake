# The message model: encodings, charsets, addresses, parts and the rendered message.
postwick_test(test_mime
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_mime.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_mime_python.cpp ${CMAKE_CURRENT_LIST_DIR}/test_mime_python.h
  LIBS pw_smtp
  LABELS smtp)
target_include_directories(test_mime PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(test_mime PRIVATE
  MIME_TREE_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/data/mime_tree.py")
