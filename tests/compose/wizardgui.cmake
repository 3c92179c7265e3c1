# The template chooser, the wizard and its tools on real widgets, over every shipped template.
postwick_test(test_wizard_gui SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_wizard_gui.cpp
  LIBS pw_compose_gui LABELS gui)
target_compile_definitions(test_wizard_gui PRIVATE
  POSTWICK_TEMPLATES="${PROJECT_SOURCE_DIR}/data/HTML TEMPLATE/")
