# Brings a .ts file in step with the tr() texts of a source folder, keeping its
# translations, and rewrites it only when lupdate changed something, so that
# an unchanged file does not rebuild the .qm and relink the program.
#
#   cmake -DLUPDATE=<lupdate> -DSOURCE_DIR=<folder> -DTS_FILE=<file.ts>
#         -DWORK_FILE=<scratch.ts> -P SyncTranslations.cmake
foreach(var LUPDATE SOURCE_DIR TS_FILE WORK_FILE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "SyncTranslations.cmake: ${var} is not set")
  endif()
endforeach()

if(EXISTS "${TS_FILE}")
  configure_file("${TS_FILE}" "${WORK_FILE}" COPYONLY)
else()
  file(REMOVE "${WORK_FILE}")
endif()
# No line numbers: the file changes only when a text does.
execute_process(
  COMMAND "${LUPDATE}" -silent -locations none -no-obsolete "${SOURCE_DIR}" -ts "${WORK_FILE}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${result}) on ${SOURCE_DIR}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${WORK_FILE}" "${TS_FILE}")
