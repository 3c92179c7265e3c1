pkg_check_modules(PW_WINDOWS_XLSXWRITER REQUIRED IMPORTED_TARGET xlsxwriter)
postwick_test(test_import_window SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_import_window.cpp
  LIBS pw_app_gui pw_db_testfixture ICU::uc PkgConfig::PW_WINDOWS_XLSXWRITER LABELS exchange)
