# Installs the build into a fresh prefix and checks that the program takes its place on a
# desktop: the executable, the manual, a valid desktop entry, the icons and the MIME type of
# project files, which the shared MIME database must accept, the shipped templates, and the
# AppStream metadata, manual page and copyright of the package.
#   cmake -DBUILD=<build dir> -DOUT=<empty folder> -P install/check.cmake
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${OUT}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f bin/postwick share/postwick/manual/index.html share/postwick/manual/index.ja.html
    share/applications/postwick.desktop share/mime/packages/postwick.xml
    share/icons/hicolor/48x48/apps/postwick.png share/icons/hicolor/256x256/apps/postwick.png
    "share/postwick/Template/Thank You.pzt" "share/postwick/HTML TEMPLATE/Sale (English)/index.html"
    share/metainfo/postwick.metainfo.xml share/man/man1/postwick.1.gz
    share/doc/postwick/copyright share/doc/postwick/changelog.gz)
  if(NOT EXISTS ${OUT}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND desktop-file-validate ${OUT}/share/applications/postwick.desktop
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR out MATCHES "error")
  message(FATAL_ERROR "desktop entry: ${out}")
endif()
execute_process(COMMAND update-mime-database ${OUT}/share/mime RESULT_VARIABLE rc
  ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "MIME type: ${out}")
endif()
file(READ ${OUT}/share/mime/globs2 globs)
if(NOT globs MATCHES "application/x-postwick-project:\\*\\.pzy")
  message(FATAL_ERROR "*.pzy is not a Postwick project in the MIME database:\n${globs}")
endif()
file(READ ${OUT}/share/applications/postwick.desktop entry)
if(NOT entry MATCHES "MimeType=application/x-postwick-project;")
  message(FATAL_ERROR "the desktop entry does not open project files")
endif()
# warnings are listed by scripts/package.sh; an error fails
execute_process(COMMAND appstreamcli validate --no-net ${OUT}/share/metainfo/postwick.metainfo.xml
  OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(out MATCHES "(^|\n)E:")
  message(FATAL_ERROR "AppStream metadata: ${out}")
endif()
