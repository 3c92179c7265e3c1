# The send run: its rules, the log, the crash marker, and whole runs against real servers on
# loopback (aiosmtpd, started by the tests) with a real recipient database.
postwick_test(test_send_rules SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_send_rules.cpp
  LIBS pw_send LABELS send)
postwick_test(test_send_marker SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_send_marker.cpp
  LIBS pw_send LABELS send)

add_library(pw_send_testworld STATIC ${CMAKE_CURRENT_LIST_DIR}/test_send_world.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_send_world.h)
target_link_libraries(pw_send_testworld PUBLIC pw_testsupport pw_send pw_db pw_db_statements Qt6::Network)
target_compile_definitions(pw_send_testworld PRIVATE
  POSTWICK_TEST_DIR="${CMAKE_CURRENT_LIST_DIR}" POSTWICK_PYTHON="${POSTWICK_TEST_PYTHON}")

postwick_test(test_send_run SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_send_run.cpp
  LIBS pw_send_testworld pw_send LABELS send TIMEOUT 900)

# The command-line sender in a process of its own, so that a test can kill it part-way.
add_executable(test_send_cli ${CMAKE_CURRENT_LIST_DIR}/test_send_cli_main.cpp)
target_link_libraries(test_send_cli PRIVATE pw_app)
postwick_test(test_send_command SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_send_command.cpp
  LIBS pw_send_testworld pw_app LABELS send TIMEOUT 600)
add_dependencies(test_send_command test_send_cli)

# The one send flow of the window and the command line, driven the window's way.
postwick_test(test_send_flow SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_send_flow.cpp
  LIBS pw_send_testworld pw_send LABELS send TIMEOUT 600)
